#pragma once

// A small IL client library over this code base's OpenMAX IL components:
// component creation, state changes, tunnels, client input buffers and an
// event list per component. All waits are bounded.

#include "platform/omx/omx_types.h"

#include <atomic>

struct ILCLIENT_T;
struct COMPONENT_T;

struct TUNNEL_T {
    COMPONENT_T* source;
    int source_port;
    COMPONENT_T* sink;
    int sink_port;
};

enum ILCLIENT_CREATE_FLAGS_T {
    ILCLIENT_FLAGS_NONE = 0x0,
    // Buffers handed back by the component's input ports return to the
    // client's free list (ilclient_get_input_buffer).
    ILCLIENT_ENABLE_INPUT_BUFFERS = 0x1,
    // Buffers handed back by the component's output ports go to the
    // fill-buffer-done callback.
    ILCLIENT_ENABLE_OUTPUT_BUFFERS = 0x2,
    // Every port is disabled right after creation.
    ILCLIENT_DISABLE_ALL_PORTS = 0x4,
};

inline ILCLIENT_CREATE_FLAGS_T operator|(ILCLIENT_CREATE_FLAGS_T a, ILCLIENT_CREATE_FLAGS_T b)
{
    return static_cast<ILCLIENT_CREATE_FLAGS_T>(static_cast<int>(a) | static_cast<int>(b));
}

// Event masks for ilclient_wait_for_event: with ILCLIENT_EVENT_ERROR an error
// event of the component ends the wait (it is taken from the list).
enum ILEVENT_MASK_T {
    ILCLIENT_PARAMETER_CHANGED = 0x40,
    ILCLIENT_EVENT_ERROR = 0x80,
};

using ILCLIENT_BUFFER_CALLBACK_T = void (*)(void* userdata, COMPONENT_T* comp);
using ILCLIENT_MALLOC_T = void* (*)(void* userdata, OMX_U32 size, OMX_U32 align,
                                    const char* description);
using ILCLIENT_FREE_T = void (*)(void* userdata, void* pointer);

inline void set_tunnel(TUNNEL_T* tunnel, COMPONENT_T* source, int source_port, COMPONENT_T* sink,
                       int sink_port)
{
    tunnel->source = source;
    tunnel->source_port = source_port;
    tunnel->sink = sink;
    tunnel->sink_port = sink_port;
}

ILCLIENT_T* ilclient_init();
// Every component of the client must have been cleaned up before.
void ilclient_destroy(ILCLIENT_T* client);
// The callback runs on the component's thread each time an output buffer of
// a component created with ILCLIENT_ENABLE_OUTPUT_BUFFERS comes back.
void ilclient_set_fill_buffer_done_callback(ILCLIENT_T* client, ILCLIENT_BUFFER_CALLBACK_T callback,
                                            void* userdata);
// Once *keep_waiting reads false, a blocking ilclient_get_input_buffer gives
// up and returns NULL (checked every few milliseconds), so that a client
// thread told to stop is never held by a stream that drains slowly.
void ilclient_set_keep_waiting_flag(ILCLIENT_T* client, const std::atomic<bool>* keep_waiting);

// Creates the component "OMX.spectrafox.<name>". 0 on success, -1 otherwise.
int ilclient_create_component(ILCLIENT_T* client, COMPONENT_T** comp, const char* name,
                              ILCLIENT_CREATE_FLAGS_T flags);
// Frees every component of a null-terminated list, whatever its state, and
// sets the entries to NULL.
void ilclient_cleanup_components(COMPONENT_T* list[]);
OMX_HANDLETYPE ilclient_get_handle(COMPONENT_T* comp);

// 0 once the component reports the new state, -1 on error or time-out.
int ilclient_change_component_state(COMPONENT_T* comp, OMX_STATETYPE state);

// With a timeout (ms) above 0, first waits for the source's port settings
// to change. Then disables both ports, connects them and enables them; a
// source still in Loaded goes to Idle. port_stream must be 0. 0 on success.
int ilclient_setup_tunnel(TUNNEL_T* tunnel, unsigned int port_stream, int timeout);
// For each record up to the first without a source (at most max, 0 for all).
void ilclient_flush_tunnels(TUNNEL_T* tunnel, int max);
void ilclient_disable_tunnel(TUNNEL_T* tunnel);
// For each record up to the first without a source.
void ilclient_teardown_tunnels(TUNNEL_T* tunnel);

// Enables a disabled input port and gives it the buffers it asks for,
// allocated by the component (allocation functions must be NULL). 0 on success.
int ilclient_enable_port_buffers(COMPONENT_T* comp, int port_index, ILCLIENT_MALLOC_T ilclient_malloc,
                                 ILCLIENT_FREE_T ilclient_free, void* ilclient_private);
// Disables the port and frees its buffers, those the client still holds too.
void ilclient_disable_port_buffers(COMPONENT_T* comp, int port_index, OMX_BUFFERHEADERTYPE* buffer_list,
                                   ILCLIENT_FREE_T ilclient_free, void* ilclient_private);
// A free input buffer of the port, or NULL. With block set, waits for one
// (see ilclient_set_keep_waiting_flag).
OMX_BUFFERHEADERTYPE* ilclient_get_input_buffer(COMPONENT_T* comp, int port_index, int block);

// Takes the oldest matching event from the component's list: 0 if found,
// -1 otherwise. ignore1 and ignore2 make nData1 and nData2 match anything.
int ilclient_remove_event(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 nData1, int ignore1,
                          OMX_U32 nData2, int ignore2);
// Waits up to suspend milliseconds for a matching event and takes it: 0 if
// found, -1 on time-out, -2 if an error event came first (with
// ILCLIENT_EVENT_ERROR in event_flag).
int ilclient_wait_for_event(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 nData1, int ignore1,
                            OMX_U32 nData2, int ignore2, int event_flag, int suspend);
