#include "platform/omx/ilclient.h"
#include "platform/omx/omx_component.h"
#include "platform/omx/omx_core.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

using namespace Spectrafox;

namespace {

// A component whose events the test raises by hand.
class EventSource : public OmxComponent {
public:
    EventSource() : OmxComponent("OMX.spectrafox.test_events")
    {
        addPort({5, OMX_DirOutput, OMX_PortDomainVideo});
    }
    void emit(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2) { raiseEvent(event, data1, data2); }
};

class IlclientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(OMX_Init(), OMX_ErrorNone);
        client = ilclient_init();
        OmxCore::registerComponent("OMX.spectrafox.test_events",
                                   [] { return static_cast<OmxComponent*>(new EventSource()); });
    }
    void TearDown() override
    {
        ilclient_cleanup_components(list);
        ilclient_destroy(client);
        OmxCore::registerComponent("OMX.spectrafox.test_events", nullptr);
        OMX_Deinit();
    }

    COMPONENT_T* create(const char* name, ILCLIENT_CREATE_FLAGS_T flags)
    {
        COMPONENT_T* comp = nullptr;
        EXPECT_EQ(ilclient_create_component(client, &comp, name, flags), 0) << name;
        list[used++] = comp;
        return comp;
    }

    EventSource* source(COMPONENT_T* comp)
    {
        return static_cast<EventSource*>(OmxComponent::fromHandle(ilclient_get_handle(comp)));
    }

    static OMX_PARAM_PORTDEFINITIONTYPE portDefinition(COMPONENT_T* comp, OMX_U32 port)
    {
        OMX_PARAM_PORTDEFINITIONTYPE definition{};
        definition.nSize = sizeof(definition);
        definition.nVersion = omxVersion();
        definition.nPortIndex = port;
        EXPECT_EQ(OMX_GetParameter(ilclient_get_handle(comp), OMX_IndexParamPortDefinition,
                                   &definition),
                  OMX_ErrorNone);
        return definition;
    }

    static OMX_STATETYPE stateOf(COMPONENT_T* comp)
    {
        OMX_STATETYPE state = OMX_StateInvalid;
        OMX_GetState(ilclient_get_handle(comp), &state);
        return state;
    }

    ILCLIENT_T* client = nullptr;
    COMPONENT_T* list[8] = {};
    int used = 0;
};

TEST_F(IlclientTest, RemoveEventMatchesTypeAndDataOrIgnoresThem)
{
    struct Case {
        const char* what;
        OMX_EVENTTYPE event;
        OMX_U32 data1;
        int ignore1;
        OMX_U32 data2;
        int ignore2;
        int expected;
    };
    const Case cases[] = {
        {"exact match", OMX_EventPortSettingsChanged, 131, 0, 7, 0, 0},
        {"second data ignored", OMX_EventPortSettingsChanged, 131, 0, 999, 1, 0},
        {"both ignored", OMX_EventPortSettingsChanged, 0, 1, 0, 1, 0},
        {"other port", OMX_EventPortSettingsChanged, 130, 0, 7, 0, -1},
        {"other second data", OMX_EventPortSettingsChanged, 131, 0, 8, 0, -1},
        {"other event type", OMX_EventBufferFlag, 131, 0, 7, 0, -1},
    };
    COMPONENT_T* comp = create("test_events", ILCLIENT_FLAGS_NONE);
    for (const Case& c : cases) {
        source(comp)->emit(OMX_EventPortSettingsChanged, 131, 7);
        // Events arrive from the component's own calls, already listed.
        EXPECT_EQ(ilclient_remove_event(comp, c.event, c.data1, c.ignore1, c.data2, c.ignore2),
                  c.expected)
            << c.what;
        // Whatever matched is gone; whatever did not is still there once.
        EXPECT_EQ(ilclient_remove_event(comp, OMX_EventPortSettingsChanged, 0, 1, 0, 1),
                  c.expected == 0 ? -1 : 0)
            << c.what;
    }
}

TEST_F(IlclientTest, EventsAreTakenOldestFirst)
{
    COMPONENT_T* comp = create("test_events", ILCLIENT_FLAGS_NONE);
    source(comp)->emit(OMX_EventPortSettingsChanged, 131, 1);
    source(comp)->emit(OMX_EventPortSettingsChanged, 131, 2);
    EXPECT_EQ(ilclient_remove_event(comp, OMX_EventPortSettingsChanged, 131, 0, 2, 0), 0);
    EXPECT_EQ(ilclient_remove_event(comp, OMX_EventPortSettingsChanged, 131, 0, 2, 0), -1);
    EXPECT_EQ(ilclient_remove_event(comp, OMX_EventPortSettingsChanged, 131, 0, 1, 0), 0);
}

TEST_F(IlclientTest, EventListKeepsOnlyTheNewestWhenNobodyTakesThem)
{
    COMPONENT_T* comp = create("test_events", ILCLIENT_FLAGS_NONE);
    for (OMX_U32 i = 0; i < 200; ++i)
        source(comp)->emit(OMX_EventBufferFlag, 1, i);
    EXPECT_EQ(ilclient_remove_event(comp, OMX_EventBufferFlag, 1, 0, 0, 0), -1);
    EXPECT_EQ(ilclient_remove_event(comp, OMX_EventBufferFlag, 1, 0, 199, 0), 0);
}

TEST_F(IlclientTest, WaitForEventSeesAnEventRaisedLaterByAnotherThread)
{
    COMPONENT_T* comp = create("test_events", ILCLIENT_FLAGS_NONE);
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        source(comp)->emit(OMX_EventPortSettingsChanged, 131, 0);
    });
    EXPECT_EQ(ilclient_wait_for_event(comp, OMX_EventPortSettingsChanged, 131, 0, 0, 1,
                                      ILCLIENT_EVENT_ERROR | ILCLIENT_PARAMETER_CHANGED, 10000),
              0);
    later.join();
}

TEST_F(IlclientTest, WaitForEventTimesOutAndTreatsErrorsAsTheMaskSays)
{
    COMPONENT_T* comp = create("test_events", ILCLIENT_FLAGS_NONE);
    EXPECT_EQ(ilclient_wait_for_event(comp, OMX_EventPortSettingsChanged, 131, 0, 0, 1,
                                      ILCLIENT_EVENT_ERROR, 20),
              -1);

    source(comp)->emit(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorStreamCorrupt), 0);
    // Without the error flag the error does not end the wait...
    EXPECT_EQ(ilclient_wait_for_event(comp, OMX_EventPortSettingsChanged, 131, 0, 0, 1,
                                      ILCLIENT_PARAMETER_CHANGED, 20),
              -1);
    // ...with it, it does, once: the error is taken from the list.
    EXPECT_EQ(ilclient_wait_for_event(comp, OMX_EventPortSettingsChanged, 131, 0, 0, 1,
                                      ILCLIENT_EVENT_ERROR, 10000),
              -2);
    EXPECT_EQ(ilclient_wait_for_event(comp, OMX_EventPortSettingsChanged, 131, 0, 0, 1,
                                      ILCLIENT_EVENT_ERROR, 20),
              -1);
}

TEST_F(IlclientTest, DisableAllPortsLeavesEveryPortOfEveryComponentDisabled)
{
    struct Case {
        const char* name;
        std::vector<OMX_U32> ports;
    };
    const Case cases[] = {
        {"video_decode", {130, 131}},
        {"egl_render", {220, 221}},
        {"clock", {80}},
        {"video_scheduler", {10, 11, 12}},
    };
    for (const Case& c : cases) {
        COMPONENT_T* comp = create(c.name, ILCLIENT_DISABLE_ALL_PORTS);
        ASSERT_NE(comp, nullptr) << c.name;
        for (OMX_U32 port : c.ports)
            EXPECT_FALSE(portDefinition(comp, port).bEnabled) << c.name << " port " << port;
    }
    COMPONENT_T* enabled = create("clock", ILCLIENT_FLAGS_NONE);
    EXPECT_TRUE(portDefinition(enabled, 80).bEnabled);
}

TEST_F(IlclientTest, UnknownComponentIsNotCreated)
{
    COMPONENT_T* comp = reinterpret_cast<COMPONENT_T*>(0x1);
    EXPECT_EQ(ilclient_create_component(client, &comp, "video_encode", ILCLIENT_FLAGS_NONE), -1);
    EXPECT_EQ(comp, nullptr);
}

TEST_F(IlclientTest, StateChangesFollowTheAllowedTransitions)
{
    struct Step {
        OMX_STATETYPE target;
        int expected;
        OMX_STATETYPE after;
    };
    const Step steps[] = {
        {OMX_StateIdle, 0, OMX_StateIdle},
        {OMX_StateIdle, -1, OMX_StateIdle}, // same state: error, nothing changes
        {OMX_StateExecuting, 0, OMX_StateExecuting},
        {OMX_StateLoaded, -1, OMX_StateExecuting}, // not straight from Executing
        {OMX_StatePause, -1, OMX_StateExecuting},  // not offered
        {OMX_StateIdle, 0, OMX_StateIdle},
        {OMX_StateLoaded, 0, OMX_StateLoaded},
        {OMX_StateExecuting, 0, OMX_StateExecuting}, // through Idle, for tunnel sinks
        {OMX_StateIdle, 0, OMX_StateIdle},
    };
    COMPONENT_T* comp = create("video_scheduler", ILCLIENT_DISABLE_ALL_PORTS);
    EXPECT_EQ(stateOf(comp), OMX_StateLoaded);
    int index = 0;
    for (const Step& s : steps) {
        EXPECT_EQ(ilclient_change_component_state(comp, s.target), s.expected) << "step " << index;
        EXPECT_EQ(stateOf(comp), s.after) << "step " << index;
        ++index;
    }
}

TEST_F(IlclientTest, InputBuffersCycleBetweenClientAndDecoder)
{
    COMPONENT_T* decoder =
        create("video_decode", ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_INPUT_BUFFERS);
    ASSERT_EQ(ilclient_change_component_state(decoder, OMX_StateIdle), 0);
    ASSERT_EQ(ilclient_enable_port_buffers(decoder, 130, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ilclient_enable_port_buffers(decoder, 130, nullptr, nullptr, nullptr), -1)
        << "an enabled port cannot be enabled again";

    std::set<OMX_BUFFERHEADERTYPE*> buffers;
    while (OMX_BUFFERHEADERTYPE* b = ilclient_get_input_buffer(decoder, 130, 0)) {
        EXPECT_EQ(b->nAllocLen, 81920u);
        EXPECT_EQ(b->nInputPortIndex, 130u);
        buffers.insert(b);
    }
    ASSERT_EQ(buffers.size(), portDefinition(decoder, 130).nBufferCountActual);

    // A blocking wait gives up once the client is told to stop.
    std::atomic<bool> keep_waiting{false};
    ilclient_set_keep_waiting_flag(client, &keep_waiting);
    EXPECT_EQ(ilclient_get_input_buffer(decoder, 130, 1), nullptr);

    // Buffers given to the executing decoder come back to the free list.
    ASSERT_EQ(ilclient_change_component_state(decoder, OMX_StateExecuting), 0);
    for (OMX_BUFFERHEADERTYPE* b : buffers) {
        b->nFilledLen = 16;
        std::fill(b->pBuffer, b->pBuffer + 16, 0xAB);
        ASSERT_EQ(OMX_EmptyThisBuffer(ilclient_get_handle(decoder), b), OMX_ErrorNone);
    }
    keep_waiting = true;
    std::set<OMX_BUFFERHEADERTYPE*> returned;
    for (size_t i = 0; i < buffers.size(); ++i)
        returned.insert(ilclient_get_input_buffer(decoder, 130, 1));
    EXPECT_EQ(returned, buffers);

    // A buffer of another component is refused.
    OMX_BUFFERHEADERTYPE stranger{};
    EXPECT_NE(OMX_EmptyThisBuffer(ilclient_get_handle(decoder), &stranger), OMX_ErrorNone);

    ilclient_disable_port_buffers(decoder, 130, nullptr, nullptr, nullptr);
    EXPECT_FALSE(portDefinition(decoder, 130).bEnabled);
    EXPECT_EQ(ilclient_get_input_buffer(decoder, 130, 0), nullptr);
}

TEST_F(IlclientTest, DisablingPortBuffersTakesBackBuffersTheDecoderStillHolds)
{
    COMPONENT_T* decoder =
        create("video_decode", ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_INPUT_BUFFERS);
    ASSERT_EQ(ilclient_change_component_state(decoder, OMX_StateIdle), 0);
    ASSERT_EQ(ilclient_enable_port_buffers(decoder, 130, nullptr, nullptr, nullptr), 0);
    // In Idle the decoder keeps what it is given without working on it.
    OMX_BUFFERHEADERTYPE* held = ilclient_get_input_buffer(decoder, 130, 0);
    held->nFilledLen = 100;
    ASSERT_EQ(OMX_EmptyThisBuffer(ilclient_get_handle(decoder), held), OMX_ErrorNone);
    ilclient_disable_port_buffers(decoder, 130, nullptr, nullptr, nullptr);
    EXPECT_FALSE(portDefinition(decoder, 130).bEnabled);
    // Streaming can start again on the same port.
    ASSERT_EQ(ilclient_enable_port_buffers(decoder, 130, nullptr, nullptr, nullptr), 0);
    EXPECT_NE(ilclient_get_input_buffer(decoder, 130, 0), nullptr);
}

TEST_F(IlclientTest, TunnelsConnectOnlyMatchingPortsAndWaitBoundedForSettings)
{
    COMPONENT_T* clock = create("clock", ILCLIENT_DISABLE_ALL_PORTS);
    COMPONENT_T* scheduler = create("video_scheduler", ILCLIENT_DISABLE_ALL_PORTS);
    COMPONENT_T* decoder = create("video_decode", ILCLIENT_DISABLE_ALL_PORTS);

    TUNNEL_T wrong_domain{clock, 80, scheduler, 10};
    EXPECT_NE(ilclient_setup_tunnel(&wrong_domain, 0, 0), 0);
    TUNNEL_T two_inputs{scheduler, 12, decoder, 130};
    EXPECT_NE(ilclient_setup_tunnel(&two_inputs, 0, 0), 0);
    TUNNEL_T no_such_port{decoder, 132, scheduler, 10};
    EXPECT_NE(ilclient_setup_tunnel(&no_such_port, 0, 0), 0);

    TUNNEL_T clock_tunnel{clock, 80, scheduler, 12};
    ASSERT_EQ(ilclient_setup_tunnel(&clock_tunnel, 0, 0), 0);
    EXPECT_TRUE(portDefinition(clock, 80).bEnabled);
    EXPECT_TRUE(portDefinition(scheduler, 12).bEnabled);
    EXPECT_EQ(stateOf(clock), OMX_StateIdle) << "a source in Loaded goes to Idle";

    // The decoder has seen no stream, so its settings never change.
    TUNNEL_T video{decoder, 131, scheduler, 10};
    const auto before = std::chrono::steady_clock::now();
    EXPECT_NE(ilclient_setup_tunnel(&video, 0, 50), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
    EXPECT_FALSE(portDefinition(decoder, 131).bEnabled);

    TUNNEL_T tunnels[] = {clock_tunnel, {}};
    ilclient_flush_tunnels(tunnels, 0);
    ilclient_disable_tunnel(&tunnels[0]);
    EXPECT_FALSE(portDefinition(clock, 80).bEnabled);
    ilclient_teardown_tunnels(tunnels);
}

} // namespace
