// The stand-in engine is as strict as a real engine library: every exported function given a null
// handle, one it never gave out or one already destroyed writes "fault <function>" and does
// nothing else, while a messenger kept by a reference outlives its engine without faults.
#include <functional>
#include <memory>

#include "tests/standins/standin_fixture.h"

namespace kestro_standin_test {
namespace {

struct Call {
  const char* function;
  std::function<void()> make;
};

class HandleCheckTest : public StandinTest {
 protected:
  // Makes each call and expects exactly its fault line, nothing more.
  void ExpectEachFaults(const std::string& handles, const std::vector<Call>& calls) {
    for (const Call& call : calls) {
      SCOPED_TRACE(handles + " handle to " + call.function);
      const size_t before = Transcript().size();
      call.make();
      std::vector<std::string> written = Transcript();
      written.erase(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(before));
      EXPECT_EQ(written, std::vector<std::string>{std::string("fault ") + call.function});
    }
  }

  FlutterDesktopEngineRef NewEngine(const std::string& script = "") {
    properties_.emplace_back(std::make_unique<BundleProperties>(WriteBundle(script)));
    return FlutterDesktopEngineCreate(properties_.back()->get());
  }

 private:
  std::vector<std::unique_ptr<BundleProperties>> properties_;
};

void OnMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage*, void*) {}
void OnReply(const uint8_t*, size_t, void*) {}
void OnFrame(void*) {}

// Every call that takes an engine, registrar or messenger handle, given these handles.
std::vector<Call> EngineCalls(FlutterDesktopEngineRef engine,
                              FlutterDesktopPluginRegistrarRef registrar,
                              FlutterDesktopMessengerRef messenger) {
  static const uint8_t kByte[] = {0x01};
  return {
      {"FlutterDesktopEngineDestroy", [=] { EXPECT_FALSE(FlutterDesktopEngineDestroy(engine)); }},
      {"FlutterDesktopEngineGetMessenger",
       [=] { EXPECT_EQ(FlutterDesktopEngineGetMessenger(engine), nullptr); }},
      {"FlutterDesktopEngineGetPluginRegistrar",
       [=] { EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(engine, "Plugin"), nullptr); }},
      {"FlutterDesktopEngineReloadSystemFonts",
       [=] { FlutterDesktopEngineReloadSystemFonts(engine); }},
      {"FlutterDesktopEngineSetNextFrameCallback",
       [=] { FlutterDesktopEngineSetNextFrameCallback(engine, &OnFrame, nullptr); }},
      {"FlutterDesktopPluginRegistrarGetMessenger",
       [=] { EXPECT_EQ(FlutterDesktopPluginRegistrarGetMessenger(registrar), nullptr); }},
      {"FlutterDesktopMessengerSetCallback",
       [=] { FlutterDesktopMessengerSetCallback(messenger, "kestro/a", &OnMessage, nullptr); }},
      {"FlutterDesktopMessengerSendResponse",
       [=] { FlutterDesktopMessengerSendResponse(messenger, nullptr, kByte, 1); }},
      {"FlutterDesktopMessengerSend",
       [=] { EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "kestro/a", kByte, 1)); }},
      {"FlutterDesktopMessengerSendWithReply",
       [=] {
         EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(messenger, "kestro/a", kByte, 1,
                                                           &OnReply, nullptr));
       }},
      {"FlutterDesktopMessengerAddRef",
       [=] { EXPECT_EQ(FlutterDesktopMessengerAddRef(messenger), nullptr); }},
      {"FlutterDesktopMessengerRelease", [=] { FlutterDesktopMessengerRelease(messenger); }},
      {"FlutterDesktopMessengerIsAvailable",
       [=] { EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger)); }},
      {"FlutterDesktopMessengerLock",
       [=] { EXPECT_EQ(FlutterDesktopMessengerLock(messenger), nullptr); }},
      {"FlutterDesktopMessengerUnlock", [=] { FlutterDesktopMessengerUnlock(messenger); }},
      {"FlutterDesktopViewControllerCreate",
       [=] { EXPECT_EQ(FlutterDesktopViewControllerCreate(64, 48, engine), nullptr); }},
  };
}

// Every call that takes a view controller or view handle, given these handles.
std::vector<Call> ViewCalls(FlutterDesktopViewControllerRef controller,
                            FlutterDesktopViewRef view) {
  return {
      {"FlutterDesktopViewControllerDestroy",
       [=] { FlutterDesktopViewControllerDestroy(controller); }},
      {"FlutterDesktopViewControllerGetView",
       [=] { EXPECT_EQ(FlutterDesktopViewControllerGetView(controller), nullptr); }},
      {"FlutterDesktopViewControllerForceRedraw",
       [=] { FlutterDesktopViewControllerForceRedraw(controller); }},
      {"FlutterDesktopViewControllerHandleTopLevelWindowProc",
       [=] {
         LRESULT result = 7;
         EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
             controller, nullptr, WM_ACTIVATEAPP, 0, 0, &result));
         EXPECT_EQ(result, 7);
       }},
      {"FlutterDesktopViewGetHWND", [=] { EXPECT_EQ(FlutterDesktopViewGetHWND(view), nullptr); }},
  };
}

TEST_F(HandleCheckTest, NullAndForeignHandlesFault) {
  ExpectEachFaults("null", EngineCalls(nullptr, nullptr, nullptr));
  ExpectEachFaults("null", ViewCalls(nullptr, nullptr));
  // Addresses the library never gave out, of memory the caller owns.
  int foreign[5] = {};
  ExpectEachFaults("foreign",
                   EngineCalls(reinterpret_cast<FlutterDesktopEngineRef>(&foreign[0]),
                               reinterpret_cast<FlutterDesktopPluginRegistrarRef>(&foreign[1]),
                               reinterpret_cast<FlutterDesktopMessengerRef>(&foreign[2])));
  ExpectEachFaults("foreign",
                   ViewCalls(reinterpret_cast<FlutterDesktopViewControllerRef>(&foreign[3]),
                             reinterpret_cast<FlutterDesktopViewRef>(&foreign[4])));
}

TEST_F(HandleCheckTest, HandlesOfADestroyedEngineOrControllerFault) {
  FlutterDesktopEngineRef engine = NewEngine();
  ASSERT_NE(engine, nullptr);
  FlutterDesktopPluginRegistrarRef registrar =
      FlutterDesktopEngineGetPluginRegistrar(engine, "Plugin");
  FlutterDesktopMessengerRef messenger = FlutterDesktopEngineGetMessenger(engine);
  ASSERT_TRUE(FlutterDesktopEngineDestroy(engine));
  ExpectEachFaults("destroyed", EngineCalls(engine, registrar, messenger));

  FlutterDesktopEngineRef owned = NewEngine();
  FlutterDesktopViewControllerRef controller = FlutterDesktopViewControllerCreate(64, 48, owned);
  ASSERT_NE(controller, nullptr);
  FlutterDesktopViewRef view = FlutterDesktopViewControllerGetView(controller);
  // Handed to the controller, the engine is no longer the caller's to destroy or hand on.
  ExpectEachFaults(
      "owned",
      {{"FlutterDesktopEngineDestroy", [=] { EXPECT_FALSE(FlutterDesktopEngineDestroy(owned)); }},
       {"FlutterDesktopViewControllerCreate",
        [=] { EXPECT_EQ(FlutterDesktopViewControllerCreate(64, 48, owned), nullptr); }}});
  FlutterDesktopViewControllerDestroy(controller);
  ExpectEachFaults("destroyed", ViewCalls(controller, view));
  ExpectEachFaults("destroyed", {{"FlutterDesktopEngineReloadSystemFonts",
                                  [=] { FlutterDesktopEngineReloadSystemFonts(owned); }}});
}

TEST_F(HandleCheckTest, ARefusedViewSpendsTheEngineItWasGiven) {
  FlutterDesktopEngineRef engine = NewEngine("refuse-view\n");
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(64, 48, engine), nullptr);
  ExpectEachFaults("spent", {{"FlutterDesktopEngineReloadSystemFonts",
                              [=] { FlutterDesktopEngineReloadSystemFonts(engine); }},
                             {"FlutterDesktopEngineDestroy",
                              [=] { EXPECT_FALSE(FlutterDesktopEngineDestroy(engine)); }}});
}

TEST_F(HandleCheckTest, AKeptMessengerOutlivesItsEngineUntilTheLastRelease) {
  FlutterDesktopEngineRef engine = NewEngine();
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef kept =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  ASSERT_NE(kept, nullptr);
  FlutterDesktopEngineDestroy(engine);
  const size_t before = Transcript().size();
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept));
  FlutterDesktopMessengerSetCallback(kept, "kestro/a", &OnMessage, nullptr);
  FlutterDesktopMessengerUnlock(FlutterDesktopMessengerLock(kept));
  const uint8_t byte = 1;
  EXPECT_FALSE(FlutterDesktopMessengerSend(kept, "kestro/a", &byte, 1));
  // A response handle it never gave out is a fault even now.
  ExpectEachFaults(
      "foreign response",
      {{"FlutterDesktopMessengerSendResponse", [=] {
          FlutterDesktopMessengerSendResponse(
              kept, reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(&byte), &byte, 1);
        }}});
  EXPECT_EQ(Transcript().size(), before + 1) << "only the foreign response handle faults";
  FlutterDesktopMessengerRelease(kept);
  ExpectEachFaults("released", {{"FlutterDesktopMessengerIsAvailable",
                                 [=] { EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(kept)); }}});
}

}  // namespace
}  // namespace kestro_standin_test
