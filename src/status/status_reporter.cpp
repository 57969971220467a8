#include "status/status_reporter.h"

#include <unistd.h>

#include <fstream>

#include "status/slot_summary.h"

namespace Spectrafox {

StatusReporter::StatusReporter(Setup s) : setup(std::move(s))
{
    publish();
    if (setup.server.port <= 0)
        return;
    server = std::make_unique<StatusServer>(setup.server, setup.sources, board);
    if (!server->running()) {
        server_error = "Status page: " + server->error();
        server.reset();
    }
}

// The server goes first: its thread reads the board and the sources.
StatusReporter::~StatusReporter()
{
    server.reset();
}

void StatusReporter::afterFrame()
{
    if (++frames % kPublishEveryFrames == 0)
        publish();
}

void StatusReporter::publish()
{
    RenderState state;
    state.frames = frames;
    state.frame_rate = setup.frame_rate ? setup.frame_rate() : 0.0;
    if (setup.slots)
        state.slots = setup.slots();
    latest_summary = slotSummary(state.slots);
    board.publishRenderState(std::move(state));
}

std::string StatusReporter::changedSlotSummary()
{
    if (latest_summary == shown_summary)
        return {};
    shown_summary = latest_summary;
    return shown_summary;
}

long long StatusReporter::residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long total_pages = 0;
    long long resident_pages = 0;
    if (!(statm >> total_pages >> resident_pages))
        return 0;
    return resident_pages * sysconf(_SC_PAGESIZE);
}

} // namespace Spectrafox
