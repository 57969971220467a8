// Frames per second of the render loop (offscreen, 25 canvases) with the
// status page polled by 4 clients, each 10 times a second (the JSON and the
// preview in turn), against the page off, in the same run: phases alternate
// so that a busy machine weighs on both alike. Goal: >= 0.97.
// Twice: paced at 60 frames a second as the program runs (a frame the page
// delayed shows as a lower rate), and unpaced, where the
// software renderer takes every core and so every cycle the server and the
// clients (here on the same machine) use shows.
// Run inside a network namespace (scripts/in-netns.sh): the server binds
// 127.0.0.1.
#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"
#include "canvas/canvas_manager.h"
#include "status/status_reporter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCanvases = 25;
constexpr int kClients = 4;
constexpr double kPhaseSeconds = 3.0;
constexpr int kRounds = 4;

void get(int port, const char* path)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: b\r\nConnection: close\r\n\r\n";
        (void)!write(fd, request.data(), request.size());
        char buffer[65536];
        while (read(fd, buffer, sizeof buffer) > 0) {
        }
    }
    if (fd >= 0)
        close(fd);
}

struct Pollers {
    Pollers(int port)
    {
        for (int i = 0; i < kClients; ++i)
            threads.emplace_back([this, port, i] {
                for (long n = i; !stop.load(); ++n) {
                    get(port, n % 2 ? "/preview.png" : "/api/status");
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            });
    }
    ~Pollers()
    {
        stop.store(true);
        for (std::thread& t : threads)
            t.join();
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
};

StatusReporter* makeReporter(CanvasManager& screen, int port)
{
    StatusReporter::Setup setup;
    setup.sources.canvas_count = kCanvases;
    setup.sources.memory_in_use = &StatusReporter::residentBytes;
    auto* textures = dynamic_cast<ContentLocalFileTexture*>(screen.findContent("CONTENT_TEXTURE_256"));
    if (textures)
        setup.slots = [textures] { return textures->slotReports(); };
    setup.frame_rate = [&screen] { return static_cast<double>(screen.getFPS()); };
    setup.server.port = port;
    setup.server.bind_address = "127.0.0.1";
    return new StatusReporter(std::move(setup));
}

// Frames per second over one phase.
double runPhase(CanvasManager& screen, StatusReporter* reporter)
{
    long frames = 0;
    const Clock::time_point start = Clock::now();
    double elapsed = 0.0;
    while (elapsed < kPhaseSeconds) {
        screen.renderFrame();
        reporter->afterFrame();
        ++frames;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    return frames / elapsed;
}

void measure(int width, int height, int fps_cap)
{
    StatusReporter* reporter = nullptr;
    DisplayOptions display = DisplayOptions::headless(width, height);
    display.offscreen_fps_cap = fps_cap;
    display.before_swap = [&reporter](int w, int h) {
        if (reporter)
            reporter->beforeSwap(w, h);
    };
    CanvasManager screen(display);
    const int group = screen.generateCanvasGroup(kCanvases, "CONTENT_TEXTURE_256");
    int i = 0;
    for (Canvas* canvas : screen.getCanvasGroup(group)) {
        canvas->setPositionX(-0.8f + 0.064f * i++);
        canvas->setScalingX(0.2f);
        canvas->setAlpha(1.0f);
        canvas->setSpeed(1.0f);
    }

    std::unique_ptr<StatusReporter> page_off(makeReporter(screen, 0));
    std::unique_ptr<StatusReporter> page_on(makeReporter(screen, 18080));
    if (!page_on->serverError().empty()) {
        std::fprintf(stderr, "%s\n", page_on->serverError().c_str());
        std::exit(1);
    }
    double off_sum = 0.0, on_sum = 0.0;
    for (int round = 0; round < kRounds; ++round) {
        reporter = page_off.get();
        off_sum += runPhase(screen, reporter);
        reporter = page_on.get();
        Pollers pollers(page_on->serverPort());
        on_sum += runPhase(screen, reporter);
    }
    reporter = nullptr;
    const double off = off_sum / kRounds, on = on_sum / kRounds;
    std::printf("%dx%d, %s:\n", width, height, fps_cap ? "paced at 60/s" : "unpaced");
    std::printf("  status page off: %.1f fps\n", off);
    std::printf("  status page polled 10/s by %d clients: %.1f fps\n", kClients, on);
    std::printf("  ratio (goal >= 0.97): %.3f\n", on / off);
}

} // namespace

int main()
{
    measure(640, 360, 60);
    measure(640, 360, 0);
    return 0;
}
