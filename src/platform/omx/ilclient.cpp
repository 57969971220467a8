#include "platform/omx/ilclient.h"

#include "platform/omx/omx_core.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Components answer commands within milliseconds; this only bounds a wait
// on a component that has stopped answering.
constexpr int kCommandTimeoutMs = 5000;
// Events nobody asks for (late size changes, say) must not pile up.
constexpr size_t kMostKeptEvents = 64;
constexpr auto kInputPoll = std::chrono::milliseconds(20);

struct ClientEvent {
    OMX_EVENTTYPE type;
    OMX_U32 data1;
    OMX_U32 data2;
};

} // namespace

struct ILCLIENT_T {
    std::mutex lock;
    std::condition_variable changed;
    ILCLIENT_BUFFER_CALLBACK_T fill_buffer_done = nullptr;
    void* fill_buffer_done_data = nullptr;
    const std::atomic<bool>* keep_waiting = nullptr;
};

// Lists are guarded by the client's lock. No component call is made while
// holding it, as component threads take it in their callbacks.
struct COMPONENT_T {
    ILCLIENT_T* client = nullptr;
    OMX_HANDLETYPE handle = nullptr;
    ILCLIENT_CREATE_FLAGS_T flags = ILCLIENT_FLAGS_NONE;
    std::deque<ClientEvent> events;
    std::vector<OMX_BUFFERHEADERTYPE*> input_buffers;
    std::deque<OMX_BUFFERHEADERTYPE*> free_input;
};

namespace {

bool takeEvent(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 data1, int ignore1, OMX_U32 data2,
               int ignore2)
{
    auto it = std::find_if(comp->events.begin(), comp->events.end(), [&](const ClientEvent& e) {
        return e.type == event && (ignore1 || e.data1 == data1) && (ignore2 || e.data2 == data2);
    });
    if (it == comp->events.end())
        return false;
    comp->events.erase(it);
    return true;
}

OMX_ERRORTYPE onEvent(OMX_HANDLETYPE, OMX_PTR app_data, OMX_EVENTTYPE event, OMX_U32 data1,
                      OMX_U32 data2, OMX_PTR)
{
    auto* comp = static_cast<COMPONENT_T*>(app_data);
    {
        std::lock_guard<std::mutex> guard(comp->client->lock);
        comp->events.push_back(ClientEvent{event, data1, data2});
        if (comp->events.size() > kMostKeptEvents)
            comp->events.pop_front();
    }
    comp->client->changed.notify_all();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE onEmptyBufferDone(OMX_HANDLETYPE, OMX_PTR app_data, OMX_BUFFERHEADERTYPE* header)
{
    auto* comp = static_cast<COMPONENT_T*>(app_data);
    {
        std::lock_guard<std::mutex> guard(comp->client->lock);
        const bool ours = std::find(comp->input_buffers.begin(), comp->input_buffers.end(),
                                    header) != comp->input_buffers.end();
        if (!ours || (comp->flags & ILCLIENT_ENABLE_INPUT_BUFFERS) == 0)
            return OMX_ErrorNone;
        comp->free_input.push_back(header);
    }
    comp->client->changed.notify_all();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE onFillBufferDone(OMX_HANDLETYPE, OMX_PTR app_data, OMX_BUFFERHEADERTYPE*)
{
    auto* comp = static_cast<COMPONENT_T*>(app_data);
    ILCLIENT_BUFFER_CALLBACK_T callback;
    void* userdata;
    {
        std::lock_guard<std::mutex> guard(comp->client->lock);
        callback = comp->client->fill_buffer_done;
        userdata = comp->client->fill_buffer_done_data;
    }
    if (callback != nullptr && (comp->flags & ILCLIENT_ENABLE_OUTPUT_BUFFERS) != 0)
        callback(userdata, comp);
    return OMX_ErrorNone;
}

int sendAndWait(COMPONENT_T* comp, OMX_COMMANDTYPE command, OMX_U32 param)
{
    if (OMX_SendCommand(comp->handle, command, param, nullptr) != OMX_ErrorNone)
        return -1;
    return ilclient_wait_for_event(comp, OMX_EventCmdComplete, command, 0, param, 0,
                                   ILCLIENT_EVENT_ERROR, kCommandTimeoutMs) == 0
               ? 0
               : -1;
}

int disableAllPorts(COMPONENT_T* comp)
{
    const OMX_INDEXTYPE ranges[] = {OMX_IndexParamAudioInit, OMX_IndexParamVideoInit,
                                    OMX_IndexParamImageInit, OMX_IndexParamOtherInit};
    for (OMX_INDEXTYPE range : ranges) {
        OMX_PORT_PARAM_TYPE ports{};
        ports.nSize = sizeof(ports);
        ports.nVersion = Spectrafox::omxVersion();
        if (OMX_GetParameter(comp->handle, range, &ports) != OMX_ErrorNone)
            return -1;
        for (OMX_U32 i = 0; i < ports.nPorts; ++i)
            if (sendAndWait(comp, OMX_CommandPortDisable, ports.nStartPortNumber + i) != 0)
                return -1;
    }
    return 0;
}

int enableTunnel(TUNNEL_T* tunnel)
{
    OMX_STATETYPE state = OMX_StateInvalid;
    OMX_GetState(tunnel->source->handle, &state);
    if (state == OMX_StateLoaded &&
        ilclient_change_component_state(tunnel->source, OMX_StateIdle) != 0)
        return -1;
    if (sendAndWait(tunnel->source, OMX_CommandPortEnable, tunnel->source_port) != 0 ||
        sendAndWait(tunnel->sink, OMX_CommandPortEnable, tunnel->sink_port) != 0) {
        ilclient_disable_tunnel(tunnel);
        return -1;
    }
    return 0;
}

bool portDefinition(COMPONENT_T* comp, int port_index, OMX_PARAM_PORTDEFINITIONTYPE* definition)
{
    *definition = OMX_PARAM_PORTDEFINITIONTYPE{};
    definition->nSize = sizeof(*definition);
    definition->nVersion = Spectrafox::omxVersion();
    definition->nPortIndex = static_cast<OMX_U32>(port_index);
    return OMX_GetParameter(comp->handle, OMX_IndexParamPortDefinition, definition) ==
           OMX_ErrorNone;
}

// Forgets the port's buffers and returns those the caller may free: all of
// them once the component has handed everything back, otherwise only those
// in the free list (the component frees the rest when it is destroyed).
std::vector<OMX_BUFFERHEADERTYPE*> forgetPortBuffers(COMPONENT_T* comp, OMX_U32 port_index,
                                                     bool all_handed_back)
{
    std::vector<OMX_BUFFERHEADERTYPE*> returned;
    for (OMX_BUFFERHEADERTYPE* header : comp->input_buffers)
        if (header->nInputPortIndex == port_index &&
            (all_handed_back || std::find(comp->free_input.begin(), comp->free_input.end(),
                                          header) != comp->free_input.end()))
            returned.push_back(header);
    auto onPort = [port_index](OMX_BUFFERHEADERTYPE* h) { return h->nInputPortIndex == port_index; };
    comp->free_input.erase(std::remove_if(comp->free_input.begin(), comp->free_input.end(), onPort),
                           comp->free_input.end());
    comp->input_buffers.erase(
        std::remove_if(comp->input_buffers.begin(), comp->input_buffers.end(), onPort),
        comp->input_buffers.end());
    return returned;
}

} // namespace

ILCLIENT_T* ilclient_init() { return new ILCLIENT_T(); }

void ilclient_destroy(ILCLIENT_T* client) { delete client; }

void ilclient_set_fill_buffer_done_callback(ILCLIENT_T* client, ILCLIENT_BUFFER_CALLBACK_T callback,
                                            void* userdata)
{
    std::lock_guard<std::mutex> guard(client->lock);
    client->fill_buffer_done = callback;
    client->fill_buffer_done_data = userdata;
}

void ilclient_set_keep_waiting_flag(ILCLIENT_T* client, const std::atomic<bool>* keep_waiting)
{
    std::lock_guard<std::mutex> guard(client->lock);
    client->keep_waiting = keep_waiting;
}

int ilclient_create_component(ILCLIENT_T* client, COMPONENT_T** comp, const char* name,
                              ILCLIENT_CREATE_FLAGS_T flags)
{
    *comp = nullptr;
    if (client == nullptr || name == nullptr)
        return -1;
    auto* created = new COMPONENT_T();
    created->client = client;
    created->flags = flags;
    OMX_CALLBACKTYPE callbacks{onEvent, onEmptyBufferDone, onFillBufferDone};
    std::string full_name = std::string(Spectrafox::OmxCore::kNamePrefix) + name;
    if (OMX_GetHandle(&created->handle, &full_name[0], created, &callbacks) != OMX_ErrorNone) {
        delete created;
        return -1;
    }
    if ((flags & ILCLIENT_DISABLE_ALL_PORTS) != 0 && disableAllPorts(created) != 0) {
        OMX_FreeHandle(created->handle);
        delete created;
        return -1;
    }
    *comp = created;
    return 0;
}

void ilclient_cleanup_components(COMPONENT_T* list[])
{
    for (int i = 0; list[i] != nullptr; ++i) {
        OMX_FreeHandle(list[i]->handle);
        delete list[i];
        list[i] = nullptr;
    }
}

OMX_HANDLETYPE ilclient_get_handle(COMPONENT_T* comp) { return comp->handle; }

int ilclient_change_component_state(COMPONENT_T* comp, OMX_STATETYPE state)
{
    return sendAndWait(comp, OMX_CommandStateSet, state);
}

int ilclient_setup_tunnel(TUNNEL_T* tunnel, unsigned int port_stream, int timeout)
{
    if (tunnel == nullptr || tunnel->source == nullptr || tunnel->sink == nullptr ||
        port_stream != 0)
        return -1;
    if (timeout > 0 &&
        ilclient_wait_for_event(tunnel->source, OMX_EventPortSettingsChanged, tunnel->source_port,
                                0, 0, 1, ILCLIENT_PARAMETER_CHANGED | ILCLIENT_EVENT_ERROR,
                                timeout) != 0)
        return -1;
    ilclient_disable_tunnel(tunnel);
    if (OMX_SetupTunnel(tunnel->source->handle, tunnel->source_port, tunnel->sink->handle,
                        tunnel->sink_port) != OMX_ErrorNone)
        return -1;
    if (enableTunnel(tunnel) != 0) {
        OMX_SetupTunnel(tunnel->source->handle, tunnel->source_port, nullptr, 0);
        OMX_SetupTunnel(tunnel->sink->handle, tunnel->sink_port, nullptr, 0);
        return -1;
    }
    return 0;
}

void ilclient_flush_tunnels(TUNNEL_T* tunnel, int max)
{
    for (int i = 0; tunnel[i].source != nullptr && (max == 0 || i < max); ++i) {
        if (tunnel[i].sink == nullptr)
            continue;
        sendAndWait(tunnel[i].source, OMX_CommandFlush, tunnel[i].source_port);
        sendAndWait(tunnel[i].sink, OMX_CommandFlush, tunnel[i].sink_port);
    }
}

void ilclient_disable_tunnel(TUNNEL_T* tunnel)
{
    if (tunnel == nullptr || tunnel->source == nullptr || tunnel->sink == nullptr)
        return;
    sendAndWait(tunnel->source, OMX_CommandPortDisable, tunnel->source_port);
    sendAndWait(tunnel->sink, OMX_CommandPortDisable, tunnel->sink_port);
}

void ilclient_teardown_tunnels(TUNNEL_T* tunnel)
{
    for (int i = 0; tunnel[i].source != nullptr; ++i) {
        OMX_SetupTunnel(tunnel[i].source->handle, tunnel[i].source_port, nullptr, 0);
        if (tunnel[i].sink != nullptr)
            OMX_SetupTunnel(tunnel[i].sink->handle, tunnel[i].sink_port, nullptr, 0);
    }
}

int ilclient_enable_port_buffers(COMPONENT_T* comp, int port_index, ILCLIENT_MALLOC_T ilclient_malloc,
                                 ILCLIENT_FREE_T ilclient_free, void*)
{
    OMX_PARAM_PORTDEFINITIONTYPE definition;
    if (ilclient_malloc != nullptr || ilclient_free != nullptr ||
        (comp->flags & ILCLIENT_ENABLE_INPUT_BUFFERS) == 0 || !portDefinition(comp, port_index, &definition) || definition.bEnabled ||
        definition.eDir != OMX_DirInput || definition.nBufferCountActual == 0)
        return -1;
    if (OMX_SendCommand(comp->handle, OMX_CommandPortEnable, port_index, nullptr) != OMX_ErrorNone)
        return -1;
    bool allocated = true;
    for (OMX_U32 i = 0; i < definition.nBufferCountActual && allocated; ++i) {
        OMX_BUFFERHEADERTYPE* header = nullptr;
        allocated = OMX_AllocateBuffer(comp->handle, &header, port_index, nullptr,
                                       definition.nBufferSize) == OMX_ErrorNone;
        if (!allocated)
            break;
        std::lock_guard<std::mutex> guard(comp->client->lock);
        comp->input_buffers.push_back(header);
        comp->free_input.push_back(header);
    }
    if (!allocated ||
        ilclient_wait_for_event(comp, OMX_EventCmdComplete, OMX_CommandPortEnable, 0, port_index, 0,
                                ILCLIENT_EVENT_ERROR, kCommandTimeoutMs) != 0) {
        ilclient_disable_port_buffers(comp, port_index, nullptr, nullptr, nullptr);
        return -1;
    }
    return 0;
}

void ilclient_disable_port_buffers(COMPONENT_T* comp, int port_index, OMX_BUFFERHEADERTYPE*,
                                   ILCLIENT_FREE_T, void*)
{
    const OMX_U32 port = static_cast<OMX_U32>(port_index);
    // The component hands back every buffer it holds before it reports the
    // port disabled; buffers the client kept are the client's to give up.
    const bool disabled = sendAndWait(comp, OMX_CommandPortDisable, port) == 0;
    std::vector<OMX_BUFFERHEADERTYPE*> freeable;
    {
        std::lock_guard<std::mutex> guard(comp->client->lock);
        freeable = forgetPortBuffers(comp, port, disabled);
    }
    for (OMX_BUFFERHEADERTYPE* header : freeable)
        OMX_FreeBuffer(comp->handle, port, header);
}

OMX_BUFFERHEADERTYPE* ilclient_get_input_buffer(COMPONENT_T* comp, int port_index, int block)
{
    ILCLIENT_T* client = comp->client;
    std::unique_lock<std::mutex> guard(client->lock);
    for (;;) {
        auto it = std::find_if(comp->free_input.begin(), comp->free_input.end(),
                               [port_index](OMX_BUFFERHEADERTYPE* h) {
                                   return h->nInputPortIndex == static_cast<OMX_U32>(port_index);
                               });
        if (it != comp->free_input.end()) {
            OMX_BUFFERHEADERTYPE* header = *it;
            comp->free_input.erase(it);
            return header;
        }
        if (!block || (client->keep_waiting != nullptr && !client->keep_waiting->load()))
            return nullptr;
        client->changed.wait_for(guard, kInputPoll);
    }
}

int ilclient_remove_event(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 nData1, int ignore1,
                          OMX_U32 nData2, int ignore2)
{
    std::lock_guard<std::mutex> guard(comp->client->lock);
    return takeEvent(comp, event, nData1, ignore1, nData2, ignore2) ? 0 : -1;
}

int ilclient_wait_for_event(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 nData1, int ignore1,
                            OMX_U32 nData2, int ignore2, int event_flag, int suspend)
{
    ILCLIENT_T* client = comp->client;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, suspend));
    std::unique_lock<std::mutex> guard(client->lock);
    for (;;) {
        if (takeEvent(comp, event, nData1, ignore1, nData2, ignore2))
            return 0;
        if ((event_flag & ILCLIENT_EVENT_ERROR) != 0 && takeEvent(comp, OMX_EventError, 0, 1, 0, 1))
            return -2;
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        client->changed.wait_until(guard, deadline);
    }
}
