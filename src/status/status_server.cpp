#include "status/status_server.h"

#include <microhttpd.h>
#include <stb_image_write.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "status/status_json.h"
#include "status/web_files.h"

namespace Spectrafox {

namespace {

// One byte the handler points request_state at after its first call.
char request_seen;

void appendBytes(void* context, void* data, int size)
{
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

MHD_Result queue(MHD_Connection* connection, int status, const char* content_type, const std::string& body)
{
    MHD_Response* response = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                              MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'none'; script-src 'self'; style-src 'self'; "
                            "img-src 'self' data:; connect-src 'self'");
    if (status == MHD_HTTP_UNAUTHORIZED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Bearer");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned int>(status), response);
    MHD_destroy_response(response);
    return queued;
}

RequestDeadline::Connection* watched(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<RequestDeadline::Connection*>(info->socket_context) : nullptr;
}

void onConnection(void* deadline, MHD_Connection* connection, void** socket_context,
                  MHD_ConnectionNotificationCode code)
{
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        RequestDeadline::closed(static_cast<RequestDeadline::Connection*>(*socket_context));
        return;
    }
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    *socket_context = info ? static_cast<RequestDeadline*>(deadline)->opened(info->connect_fd) : nullptr;
}

void onRequestEnded(void*, MHD_Connection* connection, void** request_state, MHD_RequestTerminationCode)
{
    RequestDeadline::answered(watched(connection));
    if (*request_state != nullptr && *request_state != &request_seen)
        AdminApi::ended(static_cast<AdminApi::Request*>(*request_state));
    *request_state = nullptr;
}

const char* header(MHD_Connection* connection, const char* name)
{
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

uint32_t clientAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr || info->client_addr->sa_family != AF_INET)
        return 0;
    return reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr.s_addr;
}

AdminApi::Head headOf(MHD_Connection* connection, const char* url, const char* method)
{
    AdminApi::Head head;
    head.method = method;
    head.url = url;
    head.authorization = header(connection, MHD_HTTP_HEADER_AUTHORIZATION);
    head.origin = header(connection, "Origin");
    head.host = header(connection, MHD_HTTP_HEADER_HOST);
    head.content_length = header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
    head.has_query = MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, nullptr, nullptr) > 0;
    head.address = clientAddress(connection);
    return head;
}

MHD_Result answerAdmin(MHD_Connection* connection, const AdminApi::Reply& reply)
{
    RequestDeadline::answering(watched(connection));
    return queue(connection, reply.status, reply.content_type, reply.body);
}

// The admin API's part: headers, then the body piece by piece (a refused
// body is read to its end and dropped, so the client hears why), then the
// answer. Its request state lives until onRequestEnded.
MHD_Result onAdminRequest(AdminApi& api, MHD_Connection* connection, const char* url, const char* method,
                          const char* upload_data, size_t* upload_data_size, void** request_state)
{
    if (*request_state == nullptr) {
        AdminApi::Request* request = nullptr;
        const AdminApi::Reply reply = api.begin(headOf(connection, url, method), &request);
        if (reply.status != 0)
            return answerAdmin(connection, reply);
        *request_state = request;
        // Right token: a large file may take longer than the deadline.
        RequestDeadline::answering(watched(connection));
        return MHD_YES;
    }
    auto* request = static_cast<AdminApi::Request*>(*request_state);
    if (*upload_data_size != 0) {
        api.take(request, upload_data, *upload_data_size);
        *upload_data_size = 0;
        return MHD_YES;
    }
    return answerAdmin(connection, api.finish(request));
}

// Called by libmicrohttpd on its thread: once when the headers are in, then
// for any body (which is read and dropped), then to answer.
MHD_Result onRequest(void* self, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char* upload_data, size_t* upload_data_size, void** request_state)
{
    AdminApi& admin = static_cast<StatusServer*>(self)->admin();
    if (admin.enabled() && AdminApi::isAdminUrl(url))
        return onAdminRequest(admin, connection, url, method, upload_data, upload_data_size, request_state);
    const bool readable = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                          std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    if (!readable) {
        RequestDeadline::answering(watched(connection));
        return queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain; charset=utf-8", "GET or HEAD only\n");
    }
    if (*request_state == nullptr) {
        *request_state = &request_seen;
        return MHD_YES;
    }
    if (*upload_data_size != 0) {
        *upload_data_size = 0;
        return MHD_YES;
    }
    RequestDeadline::answering(watched(connection));
    const StatusServer::Reply reply = static_cast<StatusServer*>(self)->answer(url);
    return queue(connection, reply.status, reply.content_type, reply.body);
}

} // namespace

StatusServer::StatusServer(Options options, const NodeSources& node_sources, StatusBoard& status_board)
    : sources(node_sources), board(status_board),
      request_deadline(std::make_unique<RequestDeadline>(std::chrono::seconds(options.request_deadline_s))),
      admin_api(options.admin)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!options.bind_address.empty() && inet_pton(AF_INET, options.bind_address.c_str(), &address.sin_addr) != 1) {
        failure = "not an IPv4 address: " + options.bind_address;
        return;
    }
    errno = 0;
    daemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO, static_cast<uint16_t>(options.port), nullptr, nullptr,
        &onRequest, this,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&address),
        MHD_OPTION_CONNECTION_LIMIT, options.connection_limit,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, options.per_address_limit,
        MHD_OPTION_CONNECTION_TIMEOUT, options.timeout_s,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, options.request_memory,
        MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
        MHD_OPTION_NOTIFY_CONNECTION, &onConnection, request_deadline.get(),
        MHD_OPTION_NOTIFY_COMPLETED, &onRequestEnded, nullptr,
        MHD_OPTION_END);
    if (!daemon)
        failure = "cannot serve on port " + std::to_string(options.port) + " (" +
                  (errno ? std::strerror(errno) : "unknown reason") + ")";
}

StatusServer::~StatusServer()
{
    if (daemon)
        MHD_stop_daemon(daemon);
}

int StatusServer::port() const
{
    if (!daemon)
        return 0;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

StatusServer::Reply StatusServer::answer(const std::string& url)
{
    if (const WebFile* file = findWebFile(url))
        return {200, webFileType(file->path), std::string(reinterpret_cast<const char*>(file->bytes), file->size)};
    if (url == "/api/status")
        return {200, "application/json", statusJson(sources, *board.renderState())};
    if (url == "/preview.png")
        return previewPng();
    if (url == "/fixture.gdtf")
        return fixtureGdtf();
    const std::string thumbnail_prefix = "/thumbnail/";
    const std::string png = ".png";
    if (url.size() > thumbnail_prefix.size() + png.size() && url.compare(0, thumbnail_prefix.size(), thumbnail_prefix) == 0 &&
        url.compare(url.size() - png.size(), png.size(), png) == 0)
        return thumbnailPng(url.substr(thumbnail_prefix.size(), url.size() - thumbnail_prefix.size() - png.size()));
    return {404, "text/plain; charset=utf-8", "not found\n"};
}

// Encoded once per new picture, whoever asks; a black pixel until the
// first read-back, so the page never shows a broken image.
StatusServer::Reply StatusServer::previewPng()
{
    board.previewAsked();
    const std::shared_ptr<const PreviewPicture> picture = board.preview();
    const long generation = picture ? picture->generation : 0;
    if (generation != encoded_generation || encoded_preview.empty()) {
        static const unsigned char kBlack[3] = {0, 0, 0};
        const std::vector<unsigned char> bytes =
            picture ? encodePng(picture->rgb.data(), picture->width, picture->height, 3) : encodePng(kBlack, 1, 1, 3);
        encoded_preview.assign(bytes.begin(), bytes.end());
        encoded_generation = generation;
    }
    return {200, "image/png", encoded_preview};
}

// The profile with the slots' pictures, made again only when a file changed.
StatusServer::Reply StatusServer::fixtureGdtf()
{
    const std::string& archive = fixture.forSlots(board.renderState()->slots);
    if (archive.empty())
        return {500, "text/plain; charset=utf-8", "the fixture profile could not be made\n"};
    return {200, "application/zip", archive};
}

StatusServer::Reply StatusServer::thumbnailPng(const std::string& number)
{
    const std::shared_ptr<const RenderState> state = board.renderState();
    const bool digits = !number.empty() && number.size() <= 3 &&
                        number.find_first_not_of("0123456789") == std::string::npos;
    const int slot = digits ? std::stoi(number) : -1;
    if (slot < 0 || slot >= static_cast<int>(state->slots.size()) || !state->slots[slot].thumbnail)
        return {404, "text/plain; charset=utf-8", "no such thumbnail\n"};
    const SlotThumbnail& thumbnail = *state->slots[slot].thumbnail;
    const std::vector<unsigned char> bytes = encodePng(thumbnail.rgba.data(), thumbnail.width, thumbnail.height, 4);
    return {200, "image/png", std::string(bytes.begin(), bytes.end())};
}

std::vector<unsigned char> StatusServer::encodePng(const unsigned char* pixels, int width, int height,
                                                   int components)
{
    std::vector<unsigned char> out;
    stbi_write_png_to_func(&appendBytes, &out, width, height, components, pixels, width * components);
    return out;
}

} // namespace Spectrafox
