#include "status/rig_forwarder.h"

#include <curl/curl.h>

namespace Spectrafox {

RigForwarder::RigForwarder(std::string token) : bearer("Authorization: Bearer " + std::move(token))
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

RigForwarder::~RigForwarder()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    if (worker.joinable())
        worker.join();
}

bool RigForwarder::start(const std::string& path, std::vector<Target> targets)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (running)
            return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file)
        return false;
    std::fseek(file, 0, SEEK_END);
    const long long size = std::ftell(file);
    if (worker.joinable())
        worker.join();
    std::lock_guard<std::mutex> lock(mutex);
    nodes.clear();
    for (Target& target : targets) {
        Progress node;
        node.name = std::move(target.name);
        node.url = std::move(target.url);
        nodes.push_back(std::move(node));
    }
    running = true;
    worker = std::thread(&RigForwarder::run, this, file, size);
    return true;
}

std::vector<RigForwarder::Progress> RigForwarder::progress() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return nodes;
}

void RigForwarder::run(std::FILE* file, long long size)
{
    size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        count = nodes.size();
    }
    for (size_t index = 0; index < count; ++index)
        sendTo(index, file, size);
    std::fclose(file);
    std::lock_guard<std::mutex> lock(mutex);
    running = false;
}

void RigForwarder::sendTo(size_t index, std::FILE* file, long long size)
{
    std::string url;
    {
        std::lock_guard<std::mutex> lock(mutex);
        current = index;
        url = nodes[index].url;
    }
    std::rewind(file);
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(curl_slist_append(nullptr, bearer.c_str()), "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READDATA, file);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 10L);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &RigForwarder::onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    std::lock_guard<std::mutex> lock(mutex);
    Progress& node = nodes[index];
    node.status = static_cast<int>(status);
    if (result != CURLE_OK)
        node.error = curl_easy_strerror(result);
    node.done = true;
}

// libcurl's thread (the forwarder's): a non-zero answer ends the transfer.
int RigForwarder::onProgress(void* self, long long, long long, long long total, long long sent)
{
    auto* forwarder = static_cast<RigForwarder*>(self);
    std::lock_guard<std::mutex> lock(forwarder->mutex);
    if (total > 0)
        forwarder->nodes[forwarder->current].fraction = static_cast<double>(sent) / static_cast<double>(total);
    return forwarder->stopping ? 1 : 0;
}

} // namespace Spectrafox
