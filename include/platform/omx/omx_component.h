#pragma once

#include "platform/omx/omx_types.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AVFrame;

namespace Spectrafox {

// A decoded picture on its way through a tunnel. A picture without a frame
// marks the end of the stream.
struct OmxPicture {
    std::shared_ptr<AVFrame> frame;
    int64_t duration_us = 0;

    bool endOfStream() const { return !frame; }
};

// The common part of every OpenMAX IL component of this layer: the handle
// with its function table, the state machine, the ports with their buffer
// headers, tunnels, and one thread per component that runs all commands, all
// work and every callback to the IL client, in order.
//
// Tunnelled ports carry OmxPicture values straight from component to
// component instead of buffer headers; a sink with a full queue refuses a
// picture and wakes its source once it has room.
//
// Locks: a component's own mutex guards its state and ports; the one tunnel
// lock guards every port's peer and is always taken before a component's
// mutex, never while holding one. No callback runs under a lock.
//
// Components are created by OMX_GetHandle and destroyed by OMX_FreeHandle
// only (shutDown, then delete).
class OmxComponent {
public:
    using Clock = std::chrono::steady_clock;

    explicit OmxComponent(const std::string& component_name);
    virtual ~OmxComponent();
    OmxComponent(const OmxComponent&) = delete;
    OmxComponent& operator=(const OmxComponent&) = delete;

    // Binds the IL client's callbacks and starts the component's thread.
    void start(const OMX_CALLBACKTYPE* callbacks, OMX_PTR app_data);
    // Detaches every tunnel, ends the thread (which releases what the
    // component acquired) and frees every buffer header. Idempotent.
    void shutDown();

    OMX_HANDLETYPE handle() { return &omx_handle; }
    static OmxComponent* fromHandle(OMX_HANDLETYPE handle);
    const std::string& name() const { return component_name; }

    // The OpenMAX IL component methods, reached through the handle.
    OMX_ERRORTYPE sendCommand(OMX_COMMANDTYPE command, OMX_U32 param, OMX_PTR data);
    OMX_ERRORTYPE getState(OMX_STATETYPE* out);
    OMX_ERRORTYPE getParameterOrConfig(OMX_INDEXTYPE index, OMX_PTR data);
    OMX_ERRORTYPE setParameterOrConfig(OMX_INDEXTYPE index, OMX_PTR data);
    OMX_ERRORTYPE allocateBuffer(OMX_BUFFERHEADERTYPE** out, OMX_U32 port, OMX_PTR app_private,
                                 OMX_U32 size);
    OMX_ERRORTYPE freeBuffer(OMX_U32 port, OMX_BUFFERHEADERTYPE* header);
    OMX_ERRORTYPE emptyThisBuffer(OMX_BUFFERHEADERTYPE* header);
    OMX_ERRORTYPE fillThisBuffer(OMX_BUFFERHEADERTYPE* header);
    OMX_ERRORTYPE tunnelRequest(OMX_U32 port, OMX_HANDLETYPE peer, OMX_U32 peer_port,
                                OMX_TUNNELSETUPTYPE* setup);
    virtual OMX_ERRORTYPE useEGLImage(OMX_BUFFERHEADERTYPE** out, OMX_U32 port,
                                      OMX_PTR app_private, void* egl_image);

    // Tunnel side, called by a peer's thread with the tunnel lock held.
    bool acceptPicture(OMX_U32 port, const OmxPicture& picture);
    void wake();

protected:
    struct PortSetup {
        OMX_U32 index;
        OMX_DIRTYPE direction;
        OMX_PORTDOMAINTYPE domain;
        OMX_U32 buffer_count = 0;     // client buffers; 0 on tunnel-only ports
        OMX_U32 buffer_size = 0;
        size_t picture_capacity = 0;  // pictures queued on a tunnelled input port
    };
    // Only in the constructor of a concrete component.
    void addPort(const PortSetup& setup);

    // Hooks run on the component's thread.
    virtual bool acquireResources() { return true; } // on leaving Loaded
    virtual void releaseResources() {}               // on entering Loaded, and at shut-down
    virtual void onFlush(OMX_U32 /*port*/) {}        // port flushed, disabled or stopped
    virtual bool process() { return false; }         // one step of work while Executing
    virtual Clock::time_point nextDeadline() { return Clock::time_point::max(); }

    // Hooks run on the caller's thread with no lock of this class held.
    virtual OMX_ERRORTYPE getComponentParameter(OMX_INDEXTYPE index, OMX_PTR data);
    virtual OMX_ERRORTYPE setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data);

    OMX_STATETYPE currentState();
    OMX_BUFFERHEADERTYPE* takeBuffer(OMX_U32 port);
    void returnBuffer(OMX_BUFFERHEADERTYPE* header);
    bool peekPicture(OMX_U32 port, OmxPicture* out);
    void popPicture(OMX_U32 port);
    bool sendPicture(OMX_U32 port, const OmxPicture& picture);
    void raiseEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2);
    void setFrameSize(OMX_U32 port, OMX_U32 width, OMX_U32 height);
    OMX_BUFFERHEADERTYPE* addHeader(OMX_U32 port, OMX_U8* data, OMX_U32 size,
                                    OMX_PTR app_private, bool owns_data);
    // Runs f(peer component, peer port) under the tunnel lock; false when the
    // port has no peer.
    template <typename F> bool withPeer(OMX_U32 port, F f);

    // For records handed in by the client: right size and IL version 1.1.
    static bool recordFits(OMX_PTR data, size_t size);

private:
    struct OwnedHeader {
        OMX_BUFFERHEADERTYPE* header;
        bool owns_data;
    };
    struct Port {
        PortSetup setup;
        bool enabled = true;
        OMX_U32 frame_width = 0;
        OMX_U32 frame_height = 0;
        std::vector<OwnedHeader> headers;
        std::deque<OMX_BUFFERHEADERTYPE*> queued;
        std::deque<OmxPicture> pictures;
        OmxComponent* peer = nullptr; // tunnel lock
        OMX_U32 peer_port = 0;        // tunnel lock
    };
    struct Command {
        OMX_COMMANDTYPE command;
        OMX_U32 param;
    };

    static std::mutex& tunnelLock();
    Port* findPort(OMX_U32 index);
    Port* portOfHeader(OMX_BUFFERHEADERTYPE* header);
    std::vector<OMX_U32> portsFor(OMX_U32 param);
    OMX_ERRORTYPE queueBuffer(OMX_BUFFERHEADERTYPE* header, OMX_DIRTYPE direction);
    void run();
    void execute(const Command& command);
    void changeState(OMX_STATETYPE target);
    bool enterIdleFromLoaded();
    void flushPort(OMX_U32 port, bool disable);
    void wakePeer(OMX_U32 port);
    void wakeAllPeers();
    void detachTunnels();
    bool fillPortDefinition(OMX_PARAM_PORTDEFINITIONTYPE* definition);
    void fillPortRange(OMX_PORTDOMAINTYPE domain, OMX_PORT_PARAM_TYPE* range);

    const std::string component_name;
    OMX_COMPONENTTYPE omx_handle;
    OMX_CALLBACKTYPE client_callbacks{};
    OMX_PTR client_data = nullptr;

    std::mutex mutex;
    std::condition_variable wakeup;
    OMX_STATETYPE state = OMX_StateLoaded;
    std::vector<Port> ports;
    std::deque<Command> commands;
    bool wake_pending = false;
    bool quitting = false;
    bool shut_down = false;
    std::thread worker;
};

template <typename F> bool OmxComponent::withPeer(OMX_U32 port, F f)
{
    std::lock_guard<std::mutex> tunnel(tunnelLock());
    Port* own = findPort(port);
    if (own == nullptr || own->peer == nullptr)
        return false;
    f(own->peer, own->peer_port);
    return true;
}

} // namespace Spectrafox
