#include "platform/omx/omx_component.h"

#include <algorithm>
#include <cstring>

namespace Spectrafox {

namespace {

// A sleeping component thread looks round at least this often, so that no
// wait inside the layer is unbounded even if a wake-up were lost.
constexpr auto kLongestSleep = std::chrono::milliseconds(500);

OmxComponent* self(OMX_HANDLETYPE handle) { return OmxComponent::fromHandle(handle); }

OMX_ERRORTYPE entryGetComponentVersion(OMX_HANDLETYPE handle, OMX_STRING name,
                                       OMX_VERSIONTYPE* component_version,
                                       OMX_VERSIONTYPE* spec_version, OMX_UUIDTYPE* uuid)
{
    if (name == nullptr || component_version == nullptr || spec_version == nullptr)
        return OMX_ErrorBadParameter;
    std::strncpy(name, self(handle)->name().c_str(), OMX_MAX_STRINGNAME_SIZE - 1);
    name[OMX_MAX_STRINGNAME_SIZE - 1] = '\0';
    *component_version = omxVersion();
    *spec_version = omxVersion();
    if (uuid != nullptr)
        std::memset(uuid, 0, sizeof(OMX_UUIDTYPE));
    return OMX_ErrorNone;
}

OMX_ERRORTYPE entrySendCommand(OMX_HANDLETYPE handle, OMX_COMMANDTYPE command, OMX_U32 param,
                               OMX_PTR data)
{
    return self(handle)->sendCommand(command, param, data);
}

OMX_ERRORTYPE entryGetParameter(OMX_HANDLETYPE handle, OMX_INDEXTYPE index, OMX_PTR data)
{
    return self(handle)->getParameterOrConfig(index, data);
}

OMX_ERRORTYPE entrySetParameter(OMX_HANDLETYPE handle, OMX_INDEXTYPE index, OMX_PTR data)
{
    return self(handle)->setParameterOrConfig(index, data);
}

OMX_ERRORTYPE entryGetExtensionIndex(OMX_HANDLETYPE, OMX_STRING, OMX_INDEXTYPE*)
{
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE entryGetState(OMX_HANDLETYPE handle, OMX_STATETYPE* out)
{
    return self(handle)->getState(out);
}

OMX_ERRORTYPE entryTunnelRequest(OMX_HANDLETYPE handle, OMX_U32 port, OMX_HANDLETYPE peer,
                                 OMX_U32 peer_port, OMX_TUNNELSETUPTYPE* setup)
{
    return self(handle)->tunnelRequest(port, peer, peer_port, setup);
}

OMX_ERRORTYPE entryUseBuffer(OMX_HANDLETYPE, OMX_BUFFERHEADERTYPE**, OMX_U32, OMX_PTR, OMX_U32,
                             OMX_U8*)
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE entryAllocateBuffer(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE** out,
                                  OMX_U32 port, OMX_PTR app_private, OMX_U32 size)
{
    return self(handle)->allocateBuffer(out, port, app_private, size);
}

OMX_ERRORTYPE entryFreeBuffer(OMX_HANDLETYPE handle, OMX_U32 port, OMX_BUFFERHEADERTYPE* header)
{
    return self(handle)->freeBuffer(port, header);
}

OMX_ERRORTYPE entryEmptyThisBuffer(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE* header)
{
    return self(handle)->emptyThisBuffer(header);
}

OMX_ERRORTYPE entryFillThisBuffer(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE* header)
{
    return self(handle)->fillThisBuffer(header);
}

// Callbacks are bound once by OMX_GetHandle; changing them later would race
// with the component's thread.
OMX_ERRORTYPE entrySetCallbacks(OMX_HANDLETYPE, OMX_CALLBACKTYPE*, OMX_PTR)
{
    return OMX_ErrorIncorrectStateOperation;
}

// OMX_FreeHandle does the de-initialisation.
OMX_ERRORTYPE entryComponentDeInit(OMX_HANDLETYPE) { return OMX_ErrorNone; }

OMX_ERRORTYPE entryUseEGLImage(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE** out, OMX_U32 port,
                               OMX_PTR app_private, void* egl_image)
{
    return self(handle)->useEGLImage(out, port, app_private, egl_image);
}

OMX_ERRORTYPE entryComponentRoleEnum(OMX_HANDLETYPE, OMX_U8*, OMX_U32)
{
    return OMX_ErrorNoMore;
}

bool isStateWithBuffers(OMX_STATETYPE state)
{
    return state == OMX_StateIdle || state == OMX_StateExecuting;
}

} // namespace

OmxComponent::OmxComponent(const std::string& name) : component_name(name)
{
    std::memset(&omx_handle, 0, sizeof(omx_handle));
    omx_handle.nSize = sizeof(omx_handle);
    omx_handle.nVersion = omxVersion();
    omx_handle.pComponentPrivate = this;
    omx_handle.GetComponentVersion = entryGetComponentVersion;
    omx_handle.SendCommand = entrySendCommand;
    omx_handle.GetParameter = entryGetParameter;
    omx_handle.SetParameter = entrySetParameter;
    omx_handle.GetConfig = entryGetParameter;
    omx_handle.SetConfig = entrySetParameter;
    omx_handle.GetExtensionIndex = entryGetExtensionIndex;
    omx_handle.GetState = entryGetState;
    omx_handle.ComponentTunnelRequest = entryTunnelRequest;
    omx_handle.UseBuffer = entryUseBuffer;
    omx_handle.AllocateBuffer = entryAllocateBuffer;
    omx_handle.FreeBuffer = entryFreeBuffer;
    omx_handle.EmptyThisBuffer = entryEmptyThisBuffer;
    omx_handle.FillThisBuffer = entryFillThisBuffer;
    omx_handle.SetCallbacks = entrySetCallbacks;
    omx_handle.ComponentDeInit = entryComponentDeInit;
    omx_handle.UseEGLImage = entryUseEGLImage;
    omx_handle.ComponentRoleEnum = entryComponentRoleEnum;
}

OmxComponent::~OmxComponent() = default;

OmxComponent* OmxComponent::fromHandle(OMX_HANDLETYPE handle)
{
    return static_cast<OmxComponent*>(static_cast<OMX_COMPONENTTYPE*>(handle)->pComponentPrivate);
}

void OmxComponent::start(const OMX_CALLBACKTYPE* callbacks, OMX_PTR app_data)
{
    if (callbacks != nullptr)
        client_callbacks = *callbacks;
    client_data = app_data;
    omx_handle.pApplicationPrivate = app_data;
    worker = std::thread(&OmxComponent::run, this);
}

void OmxComponent::shutDown()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (shut_down)
            return;
        shut_down = true;
    }
    detachTunnels();
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
    }
    wakeup.notify_all();
    if (worker.joinable())
        worker.join();
    for (Port& port : ports) {
        for (OwnedHeader& owned : port.headers) {
            if (owned.owns_data)
                delete[] owned.header->pBuffer;
            delete owned.header;
        }
        port.headers.clear();
        port.queued.clear();
        port.pictures.clear();
    }
}

std::mutex& OmxComponent::tunnelLock()
{
    static std::mutex lock;
    return lock;
}

void OmxComponent::addPort(const PortSetup& setup)
{
    Port port;
    port.setup = setup;
    ports.push_back(port);
}

OmxComponent::Port* OmxComponent::findPort(OMX_U32 index)
{
    for (Port& port : ports)
        if (port.setup.index == index)
            return &port;
    return nullptr;
}

OmxComponent::Port* OmxComponent::portOfHeader(OMX_BUFFERHEADERTYPE* header)
{
    for (Port& port : ports)
        for (const OwnedHeader& owned : port.headers)
            if (owned.header == header)
                return &port;
    return nullptr;
}

std::vector<OMX_U32> OmxComponent::portsFor(OMX_U32 param)
{
    std::vector<OMX_U32> result;
    for (const Port& port : ports)
        if (param == OMX_ALL || port.setup.index == param)
            result.push_back(port.setup.index);
    return result;
}

// ---- client calls -------------------------------------------------------

OMX_ERRORTYPE OmxComponent::sendCommand(OMX_COMMANDTYPE command, OMX_U32 param, OMX_PTR)
{
    if (command != OMX_CommandStateSet && command != OMX_CommandFlush &&
        command != OMX_CommandPortDisable && command != OMX_CommandPortEnable)
        return OMX_ErrorNotImplemented;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (command != OMX_CommandStateSet && portsFor(param).empty())
            return OMX_ErrorBadPortIndex;
        // An enabled port takes buffers at once: the client allocates them
        // right after asking, before the command has completed.
        if (command == OMX_CommandPortEnable)
            for (OMX_U32 index : portsFor(param))
                findPort(index)->enabled = true;
        commands.push_back(Command{command, param});
    }
    wakeup.notify_all();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OmxComponent::getState(OMX_STATETYPE* out)
{
    if (out == nullptr)
        return OMX_ErrorBadParameter;
    *out = currentState();
    return OMX_ErrorNone;
}

bool OmxComponent::recordFits(OMX_PTR data, size_t size)
{
    if (data == nullptr)
        return false;
    const auto* head = static_cast<const OMX_PORT_PARAM_TYPE*>(data);
    return head->nSize >= size && head->nVersion.s.nVersionMajor == 1 &&
           head->nVersion.s.nVersionMinor == 1;
}

OMX_ERRORTYPE OmxComponent::getParameterOrConfig(OMX_INDEXTYPE index, OMX_PTR data)
{
    switch (index) {
    case OMX_IndexParamPortDefinition:
        if (!recordFits(data, sizeof(OMX_PARAM_PORTDEFINITIONTYPE)))
            return OMX_ErrorBadParameter;
        return fillPortDefinition(static_cast<OMX_PARAM_PORTDEFINITIONTYPE*>(data))
                   ? OMX_ErrorNone
                   : OMX_ErrorBadPortIndex;
    case OMX_IndexParamAudioInit:
    case OMX_IndexParamImageInit:
    case OMX_IndexParamVideoInit:
    case OMX_IndexParamOtherInit: {
        if (!recordFits(data, sizeof(OMX_PORT_PARAM_TYPE)))
            return OMX_ErrorBadParameter;
        const OMX_PORTDOMAINTYPE domain =
            index == OMX_IndexParamAudioInit   ? OMX_PortDomainAudio
            : index == OMX_IndexParamImageInit ? OMX_PortDomainImage
            : index == OMX_IndexParamVideoInit ? OMX_PortDomainVideo
                                               : OMX_PortDomainOther;
        fillPortRange(domain, static_cast<OMX_PORT_PARAM_TYPE*>(data));
        return OMX_ErrorNone;
    }
    default:
        return getComponentParameter(index, data);
    }
}

OMX_ERRORTYPE OmxComponent::setParameterOrConfig(OMX_INDEXTYPE index, OMX_PTR data)
{
    if (data == nullptr)
        return OMX_ErrorBadParameter;
    return setComponentParameter(index, data);
}

OMX_ERRORTYPE OmxComponent::getComponentParameter(OMX_INDEXTYPE, OMX_PTR)
{
    return OMX_ErrorUnsupportedIndex;
}

OMX_ERRORTYPE OmxComponent::setComponentParameter(OMX_INDEXTYPE, OMX_PTR)
{
    return OMX_ErrorUnsupportedIndex;
}

bool OmxComponent::fillPortDefinition(OMX_PARAM_PORTDEFINITIONTYPE* definition)
{
    std::lock_guard<std::mutex> lock(mutex);
    Port* port = findPort(definition->nPortIndex);
    if (port == nullptr)
        return false;
    const OMX_U32 index = definition->nPortIndex;
    const OMX_U32 size = definition->nSize;
    std::memset(definition, 0, sizeof(*definition));
    definition->nSize = size;
    definition->nVersion = omxVersion();
    definition->nPortIndex = index;
    definition->eDir = port->setup.direction;
    definition->nBufferCountActual = port->setup.buffer_count;
    definition->nBufferCountMin = port->setup.buffer_count;
    definition->nBufferSize = port->setup.buffer_size;
    definition->bEnabled = port->enabled ? OMX_TRUE : OMX_FALSE;
    definition->bPopulated =
        port->enabled && port->headers.size() >= port->setup.buffer_count ? OMX_TRUE : OMX_FALSE;
    definition->eDomain = port->setup.domain;
    if (port->setup.domain == OMX_PortDomainVideo) {
        definition->format.video.nFrameWidth = port->frame_width;
        definition->format.video.nFrameHeight = port->frame_height;
        definition->format.video.nStride = static_cast<OMX_S32>(port->frame_width);
        definition->format.video.nSliceHeight = port->frame_height;
    }
    definition->nBufferAlignment = 16;
    return true;
}

void OmxComponent::fillPortRange(OMX_PORTDOMAINTYPE domain, OMX_PORT_PARAM_TYPE* range)
{
    range->nPorts = 0;
    range->nStartPortNumber = 0;
    for (const Port& port : ports) {
        if (port.setup.domain != domain)
            continue;
        if (range->nPorts == 0 || port.setup.index < range->nStartPortNumber)
            range->nStartPortNumber = port.setup.index;
        ++range->nPorts;
    }
}

OMX_BUFFERHEADERTYPE* OmxComponent::addHeader(OMX_U32 port_index, OMX_U8* data, OMX_U32 size,
                                              OMX_PTR app_private, bool owns_data)
{
    auto* header = new OMX_BUFFERHEADERTYPE();
    header->nSize = sizeof(OMX_BUFFERHEADERTYPE);
    header->nVersion = omxVersion();
    header->pBuffer = data;
    header->nAllocLen = size;
    header->pAppPrivate = app_private;
    std::lock_guard<std::mutex> lock(mutex);
    Port* port = findPort(port_index);
    if (port->setup.direction == OMX_DirInput)
        header->nInputPortIndex = port_index;
    else
        header->nOutputPortIndex = port_index;
    port->headers.push_back(OwnedHeader{header, owns_data});
    return header;
}

OMX_ERRORTYPE OmxComponent::allocateBuffer(OMX_BUFFERHEADERTYPE** out, OMX_U32 port_index,
                                           OMX_PTR app_private, OMX_U32 size)
{
    if (out == nullptr || size == 0)
        return OMX_ErrorBadParameter;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = findPort(port_index);
        if (port == nullptr || port->setup.buffer_count == 0)
            return OMX_ErrorBadPortIndex;
        if (!port->enabled)
            return OMX_ErrorIncorrectStateOperation;
    }
    *out = addHeader(port_index, new OMX_U8[size](), size, app_private, true);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OmxComponent::useEGLImage(OMX_BUFFERHEADERTYPE**, OMX_U32, OMX_PTR, void*)
{
    return OMX_ErrorNotImplemented;
}

OMX_ERRORTYPE OmxComponent::freeBuffer(OMX_U32 port_index, OMX_BUFFERHEADERTYPE* header)
{
    OwnedHeader found{nullptr, false};
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = findPort(port_index);
        if (port == nullptr)
            return OMX_ErrorBadPortIndex;
        auto it = std::find_if(port->headers.begin(), port->headers.end(),
                               [header](const OwnedHeader& o) { return o.header == header; });
        if (it == port->headers.end())
            return OMX_ErrorBadParameter;
        found = *it;
        port->headers.erase(it);
        port->queued.erase(std::remove(port->queued.begin(), port->queued.end(), header),
                           port->queued.end());
    }
    if (found.owns_data)
        delete[] found.header->pBuffer;
    delete found.header;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OmxComponent::queueBuffer(OMX_BUFFERHEADERTYPE* header, OMX_DIRTYPE direction)
{
    if (header == nullptr)
        return OMX_ErrorBadParameter;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = portOfHeader(header);
        if (port == nullptr || port->setup.direction != direction)
            return OMX_ErrorBadParameter;
        if (!isStateWithBuffers(state) || !port->enabled)
            return OMX_ErrorIncorrectStateOperation;
        port->queued.push_back(header);
        wake_pending = true;
    }
    wakeup.notify_all();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OmxComponent::emptyThisBuffer(OMX_BUFFERHEADERTYPE* header)
{
    return queueBuffer(header, OMX_DirInput);
}

OMX_ERRORTYPE OmxComponent::fillThisBuffer(OMX_BUFFERHEADERTYPE* header)
{
    return queueBuffer(header, OMX_DirOutput);
}

OMX_ERRORTYPE OmxComponent::tunnelRequest(OMX_U32 port_index, OMX_HANDLETYPE peer_handle,
                                          OMX_U32 peer_port, OMX_TUNNELSETUPTYPE* setup)
{
    OmxComponent* peer = peer_handle != nullptr ? fromHandle(peer_handle) : nullptr;
    OMX_DIRTYPE direction;
    OMX_PORTDOMAINTYPE domain;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = findPort(port_index);
        if (port == nullptr)
            return OMX_ErrorBadPortIndex;
        if (peer != nullptr && port->enabled && state != OMX_StateLoaded)
            return OMX_ErrorIncorrectStateOperation;
        direction = port->setup.direction;
        domain = port->setup.domain;
    }
    if (peer != nullptr) {
        // A peer's port list never changes after construction.
        Port* other = peer->findPort(peer_port);
        if (other == nullptr)
            return OMX_ErrorBadPortIndex;
        if (other->setup.direction == direction || other->setup.domain != domain)
            return OMX_ErrorPortsNotCompatible;
    }
    if (setup != nullptr) {
        setup->nTunnelFlags = 0;
        setup->eSupplier = OMX_BufferSupplyUnspecified;
    }
    std::lock_guard<std::mutex> tunnel(tunnelLock());
    Port* port = findPort(port_index);
    port->peer = peer;
    port->peer_port = peer != nullptr ? peer_port : 0;
    return OMX_ErrorNone;
}

// ---- tunnel side ---------------------------------------------------------

bool OmxComponent::acceptPicture(OMX_U32 port_index, const OmxPicture& picture)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = findPort(port_index);
        if (port == nullptr || !port->enabled || !isStateWithBuffers(state) ||
            port->pictures.size() >= port->setup.picture_capacity)
            return false;
        port->pictures.push_back(picture);
        wake_pending = true;
    }
    wakeup.notify_all();
    return true;
}

void OmxComponent::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        wake_pending = true;
    }
    wakeup.notify_all();
}

void OmxComponent::wakePeer(OMX_U32 port)
{
    withPeer(port, [](OmxComponent* peer, OMX_U32) { peer->wake(); });
}

void OmxComponent::wakeAllPeers()
{
    for (const Port& port : ports)
        wakePeer(port.setup.index);
}

void OmxComponent::detachTunnels()
{
    std::lock_guard<std::mutex> tunnel(tunnelLock());
    for (Port& port : ports) {
        if (port.peer == nullptr)
            continue;
        Port* other = port.peer->findPort(port.peer_port);
        if (other != nullptr && other->peer == this) {
            other->peer = nullptr;
            other->peer_port = 0;
        }
        port.peer = nullptr;
        port.peer_port = 0;
    }
}

// ---- helpers for the concrete components ----------------------------------

OMX_STATETYPE OmxComponent::currentState()
{
    std::lock_guard<std::mutex> lock(mutex);
    return state;
}

OMX_BUFFERHEADERTYPE* OmxComponent::takeBuffer(OMX_U32 port_index)
{
    std::lock_guard<std::mutex> lock(mutex);
    Port* port = findPort(port_index);
    if (port == nullptr || !port->enabled || port->queued.empty())
        return nullptr;
    OMX_BUFFERHEADERTYPE* header = port->queued.front();
    port->queued.pop_front();
    return header;
}

void OmxComponent::returnBuffer(OMX_BUFFERHEADERTYPE* header)
{
    OMX_DIRTYPE direction;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = portOfHeader(header);
        if (port == nullptr)
            return;
        direction = port->setup.direction;
    }
    if (direction == OMX_DirInput && client_callbacks.EmptyBufferDone != nullptr)
        client_callbacks.EmptyBufferDone(handle(), client_data, header);
    if (direction == OMX_DirOutput && client_callbacks.FillBufferDone != nullptr)
        client_callbacks.FillBufferDone(handle(), client_data, header);
}

bool OmxComponent::peekPicture(OMX_U32 port_index, OmxPicture* out)
{
    std::lock_guard<std::mutex> lock(mutex);
    Port* port = findPort(port_index);
    if (port == nullptr || port->pictures.empty())
        return false;
    *out = port->pictures.front();
    return true;
}

void OmxComponent::popPicture(OMX_U32 port_index)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = findPort(port_index);
        if (port == nullptr || port->pictures.empty())
            return;
        port->pictures.pop_front();
    }
    wakePeer(port_index);
}

bool OmxComponent::sendPicture(OMX_U32 port_index, const OmxPicture& picture)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = findPort(port_index);
        if (port == nullptr || !port->enabled || state != OMX_StateExecuting)
            return false;
    }
    bool accepted = false;
    withPeer(port_index, [&](OmxComponent* peer, OMX_U32 peer_port) {
        accepted = peer->acceptPicture(peer_port, picture);
    });
    return accepted;
}

void OmxComponent::raiseEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2)
{
    if (client_callbacks.EventHandler != nullptr)
        client_callbacks.EventHandler(handle(), client_data, event, data1, data2, nullptr);
}

void OmxComponent::setFrameSize(OMX_U32 port_index, OMX_U32 width, OMX_U32 height)
{
    std::lock_guard<std::mutex> lock(mutex);
    Port* port = findPort(port_index);
    if (port == nullptr)
        return;
    port->frame_width = width;
    port->frame_height = height;
}

// ---- the component's thread ----------------------------------------------

void OmxComponent::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!quitting) {
        if (!commands.empty()) {
            const Command command = commands.front();
            commands.pop_front();
            lock.unlock();
            execute(command);
            lock.lock();
            continue;
        }
        const bool executing = state == OMX_StateExecuting;
        wake_pending = false;
        lock.unlock();
        const bool progressed = executing && process();
        const Clock::time_point deadline = executing ? nextDeadline() : Clock::time_point::max();
        lock.lock();
        if (progressed)
            continue;
        const Clock::time_point limit = std::min(deadline, Clock::now() + kLongestSleep);
        wakeup.wait_until(lock, limit,
                          [this] { return quitting || wake_pending || !commands.empty(); });
    }
    const bool holds_resources = state != OMX_StateLoaded;
    lock.unlock();
    if (holds_resources)
        releaseResources();
}

void OmxComponent::execute(const Command& command)
{
    if (command.command == OMX_CommandStateSet) {
        changeState(static_cast<OMX_STATETYPE>(command.param));
        return;
    }
    for (OMX_U32 port : portsFor(command.param)) {
        if (command.command == OMX_CommandFlush)
            flushPort(port, false);
        else if (command.command == OMX_CommandPortDisable)
            flushPort(port, true);
        else
            wakePeer(port);
        raiseEvent(OMX_EventCmdComplete, command.command, port);
    }
}

bool OmxComponent::enterIdleFromLoaded()
{
    if (!acquireResources()) {
        raiseEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorInsufficientResources), 0);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    state = OMX_StateIdle;
    return true;
}

void OmxComponent::changeState(OMX_STATETYPE target)
{
    const OMX_STATETYPE from = currentState();
    if (target == from) {
        raiseEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorSameState), 0);
        return;
    }
    const bool allowed =
        (from == OMX_StateLoaded && (target == OMX_StateIdle || target == OMX_StateExecuting)) ||
        (from == OMX_StateIdle && (target == OMX_StateExecuting || target == OMX_StateLoaded)) ||
        (from == OMX_StateExecuting && target == OMX_StateIdle);
    if (!allowed) {
        raiseEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorIncorrectStateTransition), 0);
        return;
    }
    // Loaded to Executing passes through Idle, so a sink can be started
    // straight away once its tunnel is set up.
    if (from == OMX_StateLoaded && !enterIdleFromLoaded())
        return;
    if (from == OMX_StateExecuting) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            state = OMX_StateIdle;
        }
        for (const Port& port : ports)
            flushPort(port.setup.index, false);
    }
    if (target == OMX_StateLoaded)
        releaseResources();
    {
        std::lock_guard<std::mutex> lock(mutex);
        state = target;
    }
    raiseEvent(OMX_EventCmdComplete, OMX_CommandStateSet, target);
    wakeAllPeers();
}

void OmxComponent::flushPort(OMX_U32 port_index, bool disable)
{
    std::deque<OMX_BUFFERHEADERTYPE*> held;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Port* port = findPort(port_index);
        held.swap(port->queued);
        port->pictures.clear();
        if (disable)
            port->enabled = false;
    }
    for (OMX_BUFFERHEADERTYPE* header : held)
        returnBuffer(header);
    onFlush(port_index);
    wakePeer(port_index);
}

} // namespace Spectrafox
