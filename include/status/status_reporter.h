#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "status/node_status.h"
#include "status/preview_grabber.h"
#include "status/status_board.h"
#include "status/status_server.h"

namespace Spectrafox {

// The node's account of itself: the slot summary for the console always, and
// the status page when a port is given. The render thread calls afterFrame
// and beforeSwap; everything else happens on the web server's thread.
class StatusReporter {
public:
    static constexpr int kPublishEveryFrames = 30;

    struct Setup {
        NodeSources sources;
        // Render thread only.
        std::function<std::vector<SlotReport>()> slots;
        std::function<double()> frame_rate;
        // port 0: no page.
        StatusServer::Options server;
    };

    explicit StatusReporter(Setup setup);
    ~StatusReporter();
    StatusReporter(const StatusReporter&) = delete;
    StatusReporter& operator=(const StatusReporter&) = delete;

    // Empty when the page is off or serving; else why it could not start.
    const std::string& serverError() const { return server_error; }
    int serverPort() const { return server ? server->port() : 0; }

    void beforeSwap(int width, int height) { grabber.beforeSwap(width, height); }
    // Publishes the render thread's state every kPublishEveryFrames frames.
    void afterFrame();
    // The console's slot line when it differs from the last one returned,
    // else empty.
    std::string changedSlotSummary();

    // The render thread's state as last published; any thread.
    std::shared_ptr<const RenderState> renderState() const { return board.renderState(); }

    // Resident memory of this process in bytes (0 when unknown).
    static long long residentBytes();

private:
    void publish();

    Setup setup;
    StatusBoard board;
    PreviewGrabber grabber{board};
    std::unique_ptr<StatusServer> server;
    std::string server_error;
    long frames = 0;
    std::string shown_summary;
    std::string latest_summary;
};

} // namespace Spectrafox
