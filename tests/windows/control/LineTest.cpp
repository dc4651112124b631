// The control on COM1 with x10sim behind it, driven as a COM host drives it: the bytes on the
// wire, x10ready through an advised sink, x10received from a remote, the power-fail reply, the
// checks' message boxes, run-time errors as EXCEPINFO, and a host that lets go of the control
// inside its event.

#include "control/QuenvarSurface.h"
#include "tests/windows/control/ControlHost.h"
#include "tests/windows/support/MessageBoxUser.h"
#include "tests/windows/support/MessageLoop.h"
#include "tests/windows/support/SimulatorBehindCom1.h"

namespace quenvar::testing {
namespace {

// The bytes the interface received since the fixture started (so earlier tests don't count).
class ControlOnCom1 : public ::testing::Test {
protected:
    void SetUp() override {
        control_ = createControl();
        ASSERT_NE(control_, nullptr) << "Zelvo.quenvar cannot be created: is it registered?";
        receivedBefore_ = SimulatorBehindCom1::received().size();
        short port = 1;
        VARIANT portArgument;
        V_VT(&portArgument) = VT_I2 | VT_BYREF;
        V_I2REF(&portArgument) = &port;
        ASSERT_EQ(invoke(control_, control::member::openx10, DISPATCH_METHOD, {portArgument}).status, S_OK);
        events_ = eventConnectionPoint(control_);
        ASSERT_NE(events_, nullptr);
        ASSERT_HRESULT_SUCCEEDED(events_->Advise(&sink_, &cookie_));
    }
    void TearDown() override {
        if (control_ == nullptr) return;
        call(control_, control::member::closex10);
        events_->Unadvise(cookie_);
        events_->Release();
        control_->Release();
    }

    std::string received() const { return SimulatorBehindCom1::received().substr(receivedBefore_); }
    bool waitForX10ready(int count) {
        return runMessagesUntil([&] { return sink_.x10readyCount >= count; });
    }

    IDispatch* control_ = nullptr;
    IConnectionPoint* events_ = nullptr;
    DWORD cookie_ = 0;
    EventSink sink_;
    std::size_t receivedBefore_ = 0;
};

TEST_F(ControlOnCom1, OnA1PutsBothTransmissionsOnTheWireAndRaisesX10readyOnce) {
    ASSERT_EQ(call(control_, control::member::x10on, {Value::text(L"A"), Value::text(L"01")}).status, S_OK);
    ASSERT_TRUE(waitForX10ready(1));
    EXPECT_EQ(received(), std::string("\x04\x66\x00\x06\x62\x00", 6));
    // Nothing more arrives after the work is done.
    runMessagesUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(sink_.x10readyCount, 1);
}

TEST_F(ControlOnCom1, ArgumentsComeByReferenceAndInsideVariantsAndAreNeverWrittenBack) {
    // As VBScript passes its variables: VARIANTs by reference holding a text and a number.
    Value house = Value::text(L"a");
    Value unit = Value::int16(1);
    VARIANT houseArgument, unitArgument;
    V_VT(&houseArgument) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&houseArgument) = &house.v;
    V_VT(&unitArgument) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&unitArgument) = &unit.v;
    const BSTR houseText = V_BSTR(&house.v);
    ASSERT_EQ(invoke(control_, control::member::x10on, DISPATCH_METHOD, {houseArgument, unitArgument}).status, S_OK);
    ASSERT_TRUE(waitForX10ready(1));
    EXPECT_EQ(received(), std::string("\x04\x66\x00\x06\x62\x00", 6));
    EXPECT_EQ(V_VT(&house.v), VT_BSTR);
    EXPECT_EQ(V_BSTR(&house.v), houseText);
    EXPECT_EQ(house.asText(), L"a");
    EXPECT_EQ(V_VT(&unit.v), VT_I2);
    EXPECT_EQ(V_I2(&unit.v), 1);
}

TEST_F(ControlOnCom1, AFailedCheckShowsItsMessageInABoxAndSendsNothing) {
    struct Case {
        std::vector<Value> args;
        DISPID id;
        const wchar_t* prompt;
    };
    const Case cases[] = {
        {{Value::text(L"Q"), Value::text(L"01")}, control::member::x10on, L"The housecode must be between A and P"},
        {{Value::text(L"A"), Value::text(L"17")}, control::member::x10off, L"The Unitcode must be between 1 and 16"},
        {{Value::text(L"A"), Value::text(L"01"), Value::int16(3)},
         control::member::x10dim,
         L"Dim value must between 5 and 95"},
    };
    for (const Case& c : cases) {
        MessageBoxUser user;
        EXPECT_EQ(call(control_, c.id, c.args).status, S_OK);
        const std::vector<MessageBoxUser::Box>& seen = user.boxes();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].texts, std::vector<std::wstring>{c.prompt});
        EXPECT_EQ(seen[0].caption, L"Error");
        EXPECT_EQ(seen[0].buttons, std::vector<int>{IDOK});
    }
    EXPECT_EQ(received(), "");
}

TEST_F(ControlOnCom1, RunTimeErrorsReachTheHostAsExceptionInformation) {
    struct Case {
        DISPID id;
        std::vector<Value> args;
        HRESULT scode;
        const wchar_t* description;
    };
    const Case cases[] = {
        {control::member::x10on,
         {Value::text(L"A"), Value::text(L"x")},
         static_cast<HRESULT>(0x800A000D),
         L"Type mismatch"},
        {control::member::openx10, {Value::text(L"one")}, static_cast<HRESULT>(0x800A000D), L"Type mismatch"},
        {control::member::openx10, {Value::int32(40000)}, static_cast<HRESULT>(0x800A0006), L"Overflow"},
        {control::member::sendx10,
         {Value::text(L""), Value::text(L"A")},
         static_cast<HRESULT>(0x800A0005),
         L"Invalid procedure call or argument"},
    };
    for (const Case& c : cases) {
        const CallResult result = call(control_, c.id, c.args);
        ASSERT_EQ(result.status, DISP_E_EXCEPTION) << std::hex << c.id;
        EXPECT_EQ(result.scode, c.scode);
        EXPECT_EQ(result.description.rfind(c.description, 0), 0u)
            << std::string(result.description.begin(), result.description.end());
        EXPECT_EQ(result.source, L"quenvar");
    }
    EXPECT_EQ(received(), "");
}

TEST_F(ControlOnCom1, AHostMayUnadviseAndReleaseTheControlInsideX10ready) {
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const auto canUnloadNow =
        reinterpret_cast<CanUnloadNow>(GetProcAddress(GetModuleHandleW(L"quenvar.ocx"), "DllCanUnloadNow"));
    ASSERT_NE(canUnloadNow, nullptr);
    sink_.onX10ready = [&] {
        events_->Unadvise(cookie_);
        events_->Release();
        control_->Release();
        control_ = nullptr;
    };
    ASSERT_EQ(call(control_, control::member::x10on, {Value::text(L"A"), Value::text(L"01")}).status, S_OK);
    ASSERT_TRUE(waitForX10ready(1));
    // The control goes once its notification is over, and lets go of the sink.
    EXPECT_TRUE(runMessagesUntil([&] { return canUnloadNow() == S_OK; }));
    EXPECT_EQ(sink_.references, 0);
}

TEST_F(ControlOnCom1, APowerFailRequestIsAnsweredWithAnEmptyMacroDownloadAndTheNextCommandGoesThrough) {
    // The interface's mains came back: it asks with 0xA5 once a second until answered.
    SimulatorBehindCom1::command("power-fail");
    const std::string reply = "\xFB" + std::string(42, '\0');
    ASSERT_TRUE(runMessagesUntil([&] { return received().size() >= reply.size(); }));
    EXPECT_EQ(received(), reply);
    ASSERT_EQ(call(control_, control::member::x10on, {Value::text(L"A"), Value::text(L"01")}).status, S_OK);
    ASSERT_TRUE(waitForX10ready(1));
    EXPECT_EQ(received(), reply + std::string("\x04\x66\x00\x06\x62\x00", 6));
}

TEST_F(ControlOnCom1, ARemotesOnA1RaisesX10receivedToEverySinkWithArgumentsByReferenceNeverReadBack) {
    // The first sink writes into its arguments; the next one still gets the event as heard.
    EventSink second;
    DWORD secondCookie = 0;
    ASSERT_HRESULT_SUCCEEDED(events_->Advise(&second, &secondCookie));
    sink_.changesArguments = true;
    SimulatorBehindCom1::command("remote A1 on");
    ASSERT_TRUE(runMessagesUntil([&] { return !sink_.heard.empty() && !second.heard.empty(); }));
    const HeardEvent onA1{L"A", L"01", L"On", 0};
    EXPECT_EQ(sink_.heard, std::vector<HeardEvent>{onA1});
    EXPECT_EQ(second.heard, std::vector<HeardEvent>{onA1});
    events_->Unadvise(secondCookie);
    EXPECT_EQ(second.references, 0);
}

// Last: 0xA5 on the wire starts a five-byte transmission, which x10sim keeps waiting for (up to
// a second) and which would swallow the next test's bytes.
TEST_F(ControlOnCom1, TextsCarryTheirSingleByteCodesToTheWire) {
    // sendx10 with the characters of 0xFB and 0xA5: both bytes go out, the checksum field holds
    // the character of their sum modulo 256.
    ASSERT_EQ(call(control_, control::member::sendx10, {Value::text(L"\u00FB"), Value::text(L"\u00A5")}).status, S_OK);
    ASSERT_TRUE(runMessagesUntil([&] { return received().size() >= 2; }));
    EXPECT_EQ(received().substr(0, 2), "\xFB\xA5");
    EXPECT_EQ(get(control_, control::member::checksum).value.asText(), L"\u00A0");
}

}  // namespace
}  // namespace quenvar::testing
