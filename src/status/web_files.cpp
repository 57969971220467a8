#include "status/web_files.h"

#include <cstring>

namespace Spectrafox {

// Written at build time by cmake/embed_web_files.cmake.
extern const WebFile kWebFiles[];
extern const size_t kWebFileCount;

const WebFile* findWebFile(const std::string& url_path)
{
    const std::string path = url_path == "/" ? "/index.html" : url_path;
    for (size_t i = 0; i < kWebFileCount; ++i)
        if (path == kWebFiles[i].path)
            return &kWebFiles[i];
    return nullptr;
}

const char* webFileType(const std::string& path)
{
    static const struct {
        const char* suffix;
        const char* type;
    } kTypes[] = {{".html", "text/html; charset=utf-8"},
                  {".css", "text/css; charset=utf-8"},
                  {".js", "text/javascript; charset=utf-8"},
                  {".png", "image/png"},
                  {".svg", "image/svg+xml"}};
    for (const auto& kind : kTypes) {
        const size_t length = std::strlen(kind.suffix);
        if (path.size() >= length && path.compare(path.size() - length, length, kind.suffix) == 0)
            return kind.type;
    }
    return "application/octet-stream";
}

} // namespace Spectrafox
