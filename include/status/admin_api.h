#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "network/node_remote.h"
#include "network/rig_list.h"
#include "status/admin_throttle.h"
#include "status/admin_token.h"
#include "status/rig_forwarder.h"
#include "status/texture_upload.h"

namespace Spectrafox {

// The write API under /api/admin/, off unless a token of 16 characters or
// more is set. Every request carries "Authorization: Bearer <token>"; none
// comes from another origin, with a query string or as OPTIONS. A wrong
// token costs its address time (AdminThrottle).
//
//   PUT/DELETE /api/admin/textures/NNN.ext   a slot's file
//   GET/PUT    /api/admin/geometry           GeometryJson
//   GET/PUT    /api/admin/settings           SettingsJson
//   GET        /api/admin/rig                the other nodes: names, addresses, pages
//   PUT        /api/admin/rig/textures/NNN.ext   stored here, then passed on to each
//   GET        /api/admin/rig/uploads        how the passing on goes, node by node
//
// The web server's one thread calls everything here; it knows nothing of
// HTTP's wire, only the parts of a request below.
class AdminApi {
public:
    static constexpr int kMostUploads = 2;
    static constexpr size_t kMostJsonBytes = 64 * 1024;

    struct Options {
        std::string token;
        std::string textures_folder = "textures";
        uint64_t upload_limit_bytes = 2048ull << 20;
        // The geometry in force, and the way to change it (applied on the
        // next frame and saved; false with the reason when it cannot be).
        std::function<Geometry()> geometry;
        std::function<bool(const Geometry&, std::string*)> store_geometry;
        // The addressing in force (false: the node takes none), and the way
        // to change it (false with the reason for a value out of range).
        std::function<bool(NodeRemote::Settings*)> settings;
        std::function<bool(const NodeRemote::Settings&, std::string*)> store_settings;
        // The other nodes heard, and the port their pages are on (ours).
        std::function<std::vector<RigList::Node>()> rig;
        int page_port = 0;
    };
    struct Head {
        std::string method;
        std::string url; // the path, already unescaped
        const char* authorization = nullptr;
        const char* origin = nullptr;
        const char* host = nullptr;
        const char* content_length = nullptr;
        bool has_query = false;
        uint32_t address = 0;
    };
    // status 0: read on (the body follows); else the answer.
    struct Reply {
        int status = 0;
        std::string body;
        const char* content_type = "text/plain; charset=utf-8";
    };
    class Request;

    explicit AdminApi(Options options);
    ~AdminApi();

    bool enabled() const { return token.enabled(); }
    const std::string& whyOff() const { return token.whyOff(); }
    static bool isAdminUrl(const std::string& url);

    // The headers are in. With status 0, *request holds the request's
    // state until ended() (null: no state to keep).
    Reply begin(const Head& head, Request** request);
    // A piece of the body; once refused, the rest is dropped.
    void take(Request* request, const char* data, size_t size);
    // The body is in: the answer (a refusal made while it came, if any).
    Reply finish(Request* request);
    // The connection is done with the request, answered or cut off.
    static void ended(Request* request);

private:
    Reply checked(const Head& head);
    Reply beginUpload(const Head& head, const std::string& name, Request** request);
    Reply forward(const std::string& name);
    Reply forwardingJson() const;
    Reply removeTexture(const std::string& name);
    Reply beginJson(const Head& head, Request** request);
    Reply putGeometry(const std::string& body);
    Reply putSettings(const std::string& body);
    Reply rigJson();
    void release(int slot);

    Options options;
    AdminToken token;
    AdminThrottle throttle;
    RigForwarder forwarder;
    int uploads = 0;
    std::array<bool, TextureName::kSlots> uploading{};
};

} // namespace Spectrafox
