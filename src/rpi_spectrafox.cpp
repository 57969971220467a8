#include <chrono>
#include <cstring>
#include <iostream>
#include <thread>

#include "config_loader.h"
#include "console_screen.h"

using namespace Spectrafox;

namespace {

constexpr const char* kVersionLine = "Raspberry Pi Spectrafox | Version: 0.3.2";

struct Arguments {
    bool help = false;
    bool silent = false;
};

Arguments scanArguments(int argc, char** argv)
{
    Arguments args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            args.help = true;
        else if (std::strcmp(argv[i], "--silent") == 0)
            args.silent = true;
    }
    return args;
}

} // namespace

int main(int argc, char** argv)
{
    const Arguments args = scanArguments(argc, argv);
    if (args.help) {
        std::cout << kVersionLine << std::endl;
        return 0;
    }

    ConsoleScreen* c_screen = args.silent ? new ConsoleScreen(true) : new ConsoleScreen();
    c_screen->showTitle();

    ConfigLoader* config = new ConfigLoader();
    c_screen->print("Config: Subnet:%i Universe:%i Num:%i DMX:%i Zoom:%i\n",
                    config->getArtnetSubnet(), config->getArtnetUniverse(),
                    config->getLasersimNum(), config->getLasersimDMXStart(),
                    config->getZoomType());

    c_screen->print("Init Done! Starting main loop... Press 'q' to quit! \n");

    while (!c_screen->isQuit()) {
        // Nothing is drawn yet, so nothing paces the loop; keep it off the CPU.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    delete config;
    delete c_screen;
    return 0;
}
