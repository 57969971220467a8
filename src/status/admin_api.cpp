#include "status/admin_api.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

#include "base/ipv4_text.h"
#include "status/geometry_json.h"
#include "status/settings_json.h"

namespace Spectrafox {

namespace {

const std::string kPrefix = "/api/admin/";
const std::string kTextures = "/api/admin/textures/";
const std::string kGeometry = "/api/admin/geometry";
const std::string kSettings = "/api/admin/settings";
const std::string kRig = "/api/admin/rig";
const std::string kRigTextures = "/api/admin/rig/textures/";
const std::string kRigUploads = "/api/admin/rig/uploads";

AdminApi::Reply text(int status, const std::string& message)
{
    return {status, message + "\n"};
}

// Digits only, no sign, no overflow: false for anything else.
bool lengthOf(const char* text, uint64_t* length)
{
    if (text == nullptr || *text == '\0' || std::strlen(text) > 19)
        return false;
    uint64_t value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(*c - '0');
    }
    *length = value;
    return true;
}

} // namespace

// What lives from a request's headers to its end.
class AdminApi::Request {
public:
    explicit Request(AdminApi& owner_api) : owner(owner_api) {}
    ~Request()
    {
        upload.reset();
        if (slot >= 0)
            owner.release(slot);
    }
    AdminApi& owner;
    int slot = -1; // the slot held while its file arrives
    std::unique_ptr<TextureUpload> upload;
    std::string body; // a JSON body
    bool settings = false; // of settings, else of geometry
    bool forward = false;  // the upload goes on to the rig's other nodes
    Reply refusal;
};

AdminApi::AdminApi(Options given) : options(std::move(given)), token(options.token), forwarder(options.token) {}

AdminApi::~AdminApi() = default;

bool AdminApi::isAdminUrl(const std::string& url)
{
    return url.compare(0, kPrefix.size(), kPrefix) == 0 || url + "/" == kPrefix;
}

AdminApi::Reply AdminApi::begin(const Head& head, Request** request)
{
    *request = nullptr;
    Reply refusal = checked(head);
    if (refusal.status != 0)
        return refusal;
    if (head.url.compare(0, kRigTextures.size(), kRigTextures) == 0 && options.rig) {
        Reply reply = head.method == "PUT" ? beginUpload(head, head.url.substr(kRigTextures.size()), request)
                                           : text(405, "PUT only");
        if (*request)
            (*request)->forward = true;
        return reply;
    }
    if (head.url == kRigUploads && options.rig)
        return forwardingJson();
    if (head.url.compare(0, kTextures.size(), kTextures) == 0) {
        if (head.method == "PUT")
            return beginUpload(head, head.url.substr(kTextures.size()), request);
        if (head.method == "DELETE")
            return removeTexture(head.url.substr(kTextures.size()));
        return text(405, "PUT or DELETE only");
    }
    if (head.url == kRig && options.rig)
        return head.method == "GET" ? rigJson() : text(405, "GET only");
    return beginJson(head, request);
}

AdminApi::Reply AdminApi::rigJson()
{
    nlohmann::json list = nlohmann::json::array();
    for (const RigList::Node& node : options.rig()) {
        const std::string address = ipv4Text(node.address);
        list.push_back({{"name", node.short_name},
                        {"long_name", node.long_name},
                        {"address", address},
                        {"page", "http://" + address + ":" + std::to_string(options.page_port) + "/"}});
    }
    // Names come from the network: dump() escapes what is not valid text.
    return {200, list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json"};
}

AdminApi::Reply AdminApi::beginJson(const Head& head, Request** request)
{
    const bool geometry = head.url == kGeometry && options.geometry && options.store_geometry;
    NodeRemote::Settings now;
    const bool settings = head.url == kSettings && options.settings && options.store_settings;
    if (!geometry && !settings)
        return text(404, "not found");
    if (settings && !options.settings(&now))
        return text(404, "the node takes no settings from the network (RDM=1 or REMOTE_CONFIG=1)");
    if (head.method == "GET")
        return {200, geometry ? GeometryJson::write(options.geometry()) : SettingsJson::write(now), "application/json"};
    if (head.method != "PUT")
        return text(405, "GET or PUT only");
    *request = new Request(*this);
    (*request)->settings = settings;
    return {};
}

// Who may ask at all, before anything is looked at.
AdminApi::Reply AdminApi::checked(const Head& head)
{
    if (head.method == "OPTIONS")
        return text(405, "no OPTIONS here");
    if (head.origin != nullptr && (head.host == nullptr || std::string("http://") + head.host != head.origin))
        return text(403, "requests from another origin are refused");
    if (head.has_query)
        return text(400, "no query strings here (the token goes in the Authorization header)");
    const auto now = AdminThrottle::Clock::now();
    if (!throttle.mayTry(head.address, now))
        return text(429, "too many wrong tokens from this address; wait");
    if (!token.admits(head.authorization)) {
        throttle.failed(head.address, now);
        return text(401, "a valid Authorization: Bearer token is needed");
    }
    throttle.succeeded(head.address);
    return {};
}

AdminApi::Reply AdminApi::beginUpload(const Head& head, const std::string& name, Request** request)
{
    int slot = 0;
    TextureName::Kind kind{};
    if (!TextureName::parse(name, &slot, &kind))
        return text(400, "the name must be NNN.ext: 000-255 and png, gif, h264, mp4, mov or mkv");
    uint64_t length = 0;
    if (!lengthOf(head.content_length, &length))
        return text(411, "a Content-Length is needed");
    int status = 0;
    std::string why;
    if (!TextureUpload::fits(options.textures_folder, length, options.upload_limit_bytes, &status, &why))
        return text(status, why);
    if (uploading[slot])
        return text(409, "this slot is being uploaded already");
    if (uploads >= kMostUploads)
        return text(503, "two uploads are under way; try again after them");
    auto upload = std::make_unique<TextureUpload>(options.textures_folder, slot, kind, length);
    if (upload->status() != 0)
        return text(upload->status(), upload->reason());
    auto* state = new Request(*this);
    state->slot = slot;
    state->upload = std::move(upload);
    uploading[slot] = true;
    ++uploads;
    *request = state;
    return {};
}

void AdminApi::take(Request* request, const char* data, size_t size)
{
    if (request->refusal.status != 0)
        return;
    if (request->upload) {
        if (!request->upload->take(data, size))
            request->refusal = text(request->upload->status(), request->upload->reason());
        return;
    }
    if (request->body.size() + size > kMostJsonBytes)
        request->refusal = text(413, "the body is too long");
    else
        request->body.append(data, size);
}

AdminApi::Reply AdminApi::finish(Request* request)
{
    if (request->refusal.status != 0)
        return request->refusal;
    if (request->upload) {
        if (!request->upload->finish())
            return text(request->upload->status(), request->upload->reason());
        return request->forward ? forward(request->upload->name()) : text(201, "stored");
    }
    return request->settings ? putSettings(request->body) : putGeometry(request->body);
}

void AdminApi::ended(Request* request)
{
    delete request;
}

AdminApi::Reply AdminApi::removeTexture(const std::string& name)
{
    int slot = 0;
    TextureName::Kind kind{};
    if (!TextureName::parse(name, &slot, &kind))
        return text(400, "the name must be NNN.ext: 000-255 and png, gif, h264, mp4, mov or mkv");
    if (uploading[slot])
        return text(409, "this slot is being uploaded");
    if (unlink((options.textures_folder + "/" + TextureName::build(slot, kind)).c_str()) != 0)
        return errno == ENOENT ? text(404, "no such file") : text(500, std::strerror(errno));
    return {204, ""};
}

AdminApi::Reply AdminApi::putGeometry(const std::string& body)
{
    Geometry geometry = options.geometry();
    std::string why;
    if (!GeometryJson::read(body, &geometry, &why))
        return text(400, why);
    if (!options.store_geometry(geometry, &why))
        return text(500, why);
    return {200, GeometryJson::write(geometry), "application/json"};
}

AdminApi::Reply AdminApi::putSettings(const std::string& body)
{
    NodeRemote::Settings settings;
    std::string why;
    if (!options.settings(&settings))
        return text(404, "the node takes no settings from the network");
    if (!SettingsJson::read(body, &settings, &why) || !options.store_settings(settings, &why))
        return text(400, why);
    return {200, SettingsJson::write(settings), "application/json"};
}

// Stored here; each other node gets it in turn, with this node's token.
AdminApi::Reply AdminApi::forward(const std::string& name)
{
    std::vector<RigForwarder::Target> targets;
    for (const RigList::Node& node : options.rig())
        targets.push_back({node.short_name, "http://" + ipv4Text(node.address) + ":" +
                                                std::to_string(options.page_port) + kTextures + name});
    if (!forwarder.start(options.textures_folder + "/" + name, std::move(targets)))
        return text(201, "stored here; not passed on: the previous file is still going out");
    return text(201, "stored here; passing it on");
}

AdminApi::Reply AdminApi::forwardingJson() const
{
    nlohmann::json list = nlohmann::json::array();
    for (const RigForwarder::Progress& node : forwarder.progress())
        list.push_back({{"name", node.name}, {"url", node.url}, {"fraction", node.fraction},
                        {"status", node.status}, {"error", node.error}, {"done", node.done}});
    return {200, list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json"};
}

void AdminApi::release(int slot)
{
    uploading[slot] = false;
    --uploads;
}

} // namespace Spectrafox
