// libFuzzer entry for the CITP/MSEX parser. The input is one TCP stream from
// a desk, cut into messages as a connection cuts it: each whole message is
// parsed, and a request's fields laid out again in a reply, so every count
// and length the parser believed is used.
#include "network/citp/citp_message_builder.h"
#include "network/citp/citp_message_parser.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

// A request never holds more than its message carried.
void checkRequest(const Spectrafox::MsexRequest& request, size_t size)
{
    check(request.elements.size() <= size && request.libraries.size() <= size && request.versions.size() <= size);
    check(request.thumbnail_width <= 65535 && request.thumbnail_height <= 65535);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Spectrafox;
    size_t at = 0;
    while (at < size) {
        size_t message = 0;
        const auto framing = CitpMessageParser::frame(data + at, size - at, &message);
        if (framing != CitpMessageParser::Framing::Complete)
            break;
        check(message >= Citp::kHeaderBytes && message <= size - at);
        MsexRequest request;
        if (CitpMessageParser::parse(data + at, message, &request) == CitpMessageParser::Outcome::Request) {
            checkRequest(request, message);
            std::vector<MsexMediaElement> elements;
            for (uint8_t number : request.elements)
                elements.push_back({number, 0, number, number, "x", 0, 1, 1, 1, 0});
            CitpMessageBuilder::mediaElements(request.version, request.request_index, request.library, elements);
        }
        at += message;
    }
    return 0;
}
