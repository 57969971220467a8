#pragma once

#include <cstddef>
#include <string>

namespace Spectrafox {

// One file of the status page (src/status/www/), built into the program:
// the page is self-contained and nothing is fetched or read at run time.
struct WebFile {
    const char* path; // "/index.html"
    const unsigned char* bytes;
    size_t size;
};

// The file a request path names ("/" is "/index.html"), or null.
const WebFile* findWebFile(const std::string& url_path);

// The Content-Type of a web file, from its suffix.
const char* webFileType(const std::string& path);

} // namespace Spectrafox
