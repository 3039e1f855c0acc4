#include "platform/PowerRequest.h"

#include "FakeDesktopService.h"
#include "PrivateBus.h"
#include "support/EnvironmentVariable.h"

#include <gtest/gtest.h>

using namespace vantrel;
using platform::PowerRequest;
using test::FakeDesktopService;
using Answer = FakeDesktopService::Answer;
using Records = FakeDesktopService::Records;

namespace
{
/** A private "session" and a private "system" bus, pointed at by the variables the power request
    reads; the fake services are started by each test as it needs them. */
class PowerRequestTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (! test::PrivateBus::installed())
            GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon)";

        std::string error;
        ASSERT_TRUE (sessionBus.start (error)) << error;
        ASSERT_TRUE (systemBus.start (error)) << error;
        ASSERT_TRUE (platform::setEnvironmentVariable ("DBUS_SESSION_BUS_ADDRESS", sessionBus.address()));
        ASSERT_TRUE (platform::setEnvironmentVariable ("DBUS_SYSTEM_BUS_ADDRESS", systemBus.address()));
    }

    void startServices (Answer screenSaverAnswer = Answer::normally, Answer loginAnswer = Answer::normally)
    {
        std::string error;
        ASSERT_TRUE (screenSaver.start (sessionBus.address(), "org.freedesktop.ScreenSaver", screenSaverAnswer, error)) << error;
        ASSERT_TRUE (login.start (systemBus.address(), "org.freedesktop.login1", loginAnswer, error)) << error;
    }

    /** Waits until the services hold exactly this many inhibits. */
    void expectHolds (size_t sleep, size_t display)
    {
        EXPECT_TRUE (login.waitUntil ([=] (const Records& r) { return r.sleepHolds() == sleep; }))
            << "sleep locks open: " << login.records().sleepHolds() << ", expected " << sleep;
        EXPECT_TRUE (screenSaver.waitUntil ([=] (const Records& r) { return r.displayHolds() == display; }))
            << "screen saver inhibits held: " << screenSaver.records().displayHolds() << ", expected " << display;
    }

    test::PrivateBus sessionBus, systemBus;
    FakeDesktopService screenSaver, login;
};
} // namespace

TEST_F (PowerRequestTest, BothPartsAreHeldWithTheProgramsNameAndReason)
{
    startServices();
    PowerRequest request;
    std::string error = "stale";

    ASSERT_TRUE (request.set (true, true, error)) << error;
    EXPECT_EQ (error, "");
    EXPECT_TRUE (request.holdsSleep());
    EXPECT_TRUE (request.holdsDisplay());

    const auto display = screenSaver.records().inhibits;
    ASSERT_EQ (display.size(), 1u);
    EXPECT_EQ (display[0].application, "Vantrel!");
    EXPECT_EQ (display[0].reason, "Live show");

    const auto sleep = login.records().sleepLocks;
    ASSERT_EQ (sleep.size(), 1u);
    EXPECT_EQ (sleep[0].what, "sleep:idle");
    EXPECT_EQ (sleep[0].who, "Vantrel!");
    EXPECT_EQ (sleep[0].why, "Live show");
    EXPECT_EQ (sleep[0].mode, "block");
    expectHolds (1, 1);
}

TEST_F (PowerRequestTest, EachChangeOfTheFlagsTakesOrDropsOnlyTheChangedPart)
{
    struct Step { bool sleep, display; size_t sleepCalls, displayCalls; };
    // The running counts of Inhibit calls: asking again for what is held calls nothing.
    const Step steps[] = {
        { true,  true,  1, 1 },
        { true,  true,  1, 1 },
        { true,  false, 1, 1 },   // UnInhibit with the cookie handed out; the sleep lock stays
        { false, false, 1, 1 },
        { false, true,  1, 2 },
        { true,  true,  2, 2 },
        { false, true,  2, 2 },
        { false, false, 2, 2 },
    };

    startServices();
    PowerRequest request;

    for (size_t i = 0; i < std::size (steps); ++i)
    {
        const auto& step = steps[i];
        SCOPED_TRACE ("step " + std::to_string (i));
        std::string error;

        ASSERT_TRUE (request.set (step.sleep, step.display, error)) << error;
        EXPECT_EQ (request.holdsSleep(), step.sleep);
        EXPECT_EQ (request.holdsDisplay(), step.display);
        expectHolds (step.sleep ? 1 : 0, step.display ? 1 : 0);
        EXPECT_EQ (login.records().sleepLocks.size(), step.sleepCalls);
        EXPECT_EQ (screenSaver.records().inhibits.size(), step.displayCalls);
    }

    // Every cookie came back exactly once.
    const auto seen = screenSaver.records();
    ASSERT_EQ (seen.unInhibits.size(), seen.inhibits.size());
    for (size_t i = 0; i < seen.inhibits.size(); ++i)
        EXPECT_EQ (seen.unInhibits[i], seen.inhibits[i].cookie);
}

TEST_F (PowerRequestTest, ReleaseAndDestructionDropBothParts)
{
    startServices();
    std::string error;
    {
        PowerRequest request;
        ASSERT_TRUE (request.set (true, true, error)) << error;
        request.release();
        EXPECT_FALSE (request.holdsSleep());
        EXPECT_FALSE (request.holdsDisplay());
        expectHolds (0, 0);

        ASSERT_TRUE (request.set (true, true, error)) << error;
        expectHolds (1, 1);
    }
    expectHolds (0, 0);
    EXPECT_EQ (login.records().sleepLocks.size(), 2u);
}

TEST_F (PowerRequestTest, AFailedPartIsReportedWhileTheOtherStaysHeldAndIsTriedAgainNextTime)
{
    startServices (Answer::withError, Answer::normally);
    PowerRequest request;
    std::string error;

    EXPECT_FALSE (request.set (true, true, error));
    EXPECT_EQ (error.rfind ("Power request failed: keeping the display on: ", 0), 0u) << error;
    EXPECT_NE (error.find (FakeDesktopService::refusal), std::string::npos) << error;
    EXPECT_EQ (error.find ("system awake"), std::string::npos) << error;
    EXPECT_TRUE (request.holdsSleep());
    EXPECT_FALSE (request.holdsDisplay());

    screenSaver.setAnswer (Answer::normally);
    ASSERT_TRUE (request.set (true, true, error)) << error;
    EXPECT_EQ (error, "");
    expectHolds (1, 1);
    EXPECT_EQ (login.records().sleepLocks.size(), 1u);
}

TEST_F (PowerRequestTest, APartLostOnTheOtherSideIsNoticedAndNeverReportedAsHeld)
{
    startServices();
    PowerRequest request;
    std::string error;
    ASSERT_TRUE (request.set (true, true, error)) << error;

    login.dropSleepLock (0);   // logind lost it
    ASSERT_TRUE (request.set (true, true, error)) << error;
    EXPECT_EQ (login.records().sleepLocks.size(), 2u);
    expectHolds (1, 1);

    sessionBus.stop();   // the session bus went away, and the inhibit with it
    EXPECT_FALSE (request.set (true, true, error));
    EXPECT_EQ (error.rfind ("Power request failed: keeping the display on: cannot connect to the session bus", 0), 0u) << error;
    EXPECT_FALSE (request.holdsDisplay());
    EXPECT_TRUE (request.holdsSleep());
}

TEST_F (PowerRequestTest, AServiceThatNeverAnswersIsGivenUpAfterTheCallTimeout)
{
    startServices (Answer::never, Answer::normally);
    PowerRequest request;
    std::string error;

    EXPECT_FALSE (request.set (true, true, error));
    EXPECT_EQ (error, "Power request failed: keeping the display on: org.freedesktop.ScreenSaver did not answer "
                      "Inhibit within 2000 ms");
    EXPECT_TRUE (screenSaver.waitUntil ([] (const Records& r) { return r.unanswered == 1; }));
    EXPECT_TRUE (request.holdsSleep());
    EXPECT_FALSE (request.holdsDisplay());
}

namespace
{
enum class Services { none, refusing };

struct FailureCase
{
    const char* name;
    bool sessionBusDead, systemBusDead;
    Services services;
    bool sleep, display;
    std::vector<std::string> errorParts;
};

void PrintTo (const FailureCase& c, std::ostream* out)  { *out << c.name; }

class PowerRequestFailure : public PowerRequestTest, public ::testing::WithParamInterface<FailureCase> {};

const FailureCase failureCases[] = {
    { "NoSessionBus", true, false, Services::none, false, true,
      { "Power request failed: keeping the display on: cannot connect to the session bus (unix:" } },
    { "NoSystemBus", false, true, Services::none, true, false,
      { "Power request failed: keeping the system awake: cannot connect to the system bus (unix:" } },
    { "NoServiceOnTheBuses", false, false, Services::none, true, true,
      { "Power request failed: keeping the system awake: ", "org.freedesktop.login1",
        "; keeping the display on: ", "org.freedesktop.ScreenSaver" } },
    { "ServicesAnswerAnError", false, false, Services::refusing, true, true,
      { "keeping the system awake: org.freedesktop.DBus.Error.AccessDenied: Inhibiting is turned off here",
        "keeping the display on: org.freedesktop.DBus.Error.AccessDenied: Inhibiting is turned off here" } },
};
} // namespace

TEST_P (PowerRequestFailure, IsReportedAsAFailureWithItsReasonNeverAsHeld)
{
    const auto& c = GetParam();

    if (c.services == Services::refusing)
        startServices (Answer::withError, Answer::withError);
    if (c.sessionBusDead)
        sessionBus.stop();   // its socket stays behind with nobody listening
    if (c.systemBusDead)
        systemBus.stop();

    PowerRequest request;
    std::string error;

    for (int attempt = 0; attempt < 2; ++attempt)   // asking again fails again
    {
        EXPECT_FALSE (request.set (c.sleep, c.display, error));
        EXPECT_EQ (error.rfind ("Power request failed: ", 0), 0u) << error;
        for (const auto& part : c.errorParts)
            EXPECT_NE (error.find (part), std::string::npos) << "missing \"" << part << "\" in: " << error;
        EXPECT_FALSE (request.holdsSleep());
        EXPECT_FALSE (request.holdsDisplay());
    }

    EXPECT_TRUE (request.set (false, false, error));
    EXPECT_EQ (error, "");
}

INSTANTIATE_TEST_SUITE_P (Cases, PowerRequestFailure, ::testing::ValuesIn (failureCases),
                          [] (const auto& info) { return std::string (info.param.name); });
