// The toolkit stand-ins: memo lines, timers, message boxes, errors escaping
// handlers, and the close guard.

#include "platform/toolkit/Forms.h"
#include "platform/toolkit/MessageSink.h"
#include "support/Pump.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

class MemoLines : public ::testing::Test {
protected:
    TMemo memo;
    void type(const QString& text) { memo.setPlainText(text); }
    int count() const { return memo.Lines->Count(); }
    AnsiString line(int i) const { return memo.Lines->Strings(i); }
};

TEST_F(MemoLines, EmptyLineAfterFinalBreakIsNotCounted)
{
    type("");
    EXPECT_EQ(count(), 0);
    type("osl");
    EXPECT_EQ(count(), 1);
    type("osl\n");
    EXPECT_EQ(count(), 1);
    type("osl\nadl");
    EXPECT_EQ(count(), 2);
    type("osl\n\n");
    EXPECT_EQ(count(), 2) << "an empty line before the final break is a line";
    type("\n");
    EXPECT_EQ(count(), 1);
}

TEST_F(MemoLines, LinesReadExactlyAsTypedAndEmptyPastTheEnd)
{
    type(" osl \nad l&x\n");
    EXPECT_EQ(line(0), " osl ");
    EXPECT_EQ(line(1), "ad l&x");
    EXPECT_EQ(line(2), "");
    EXPECT_EQ(line(-1), "");
    type("Hôtel\n서울");
    EXPECT_EQ(line(1), "서울");
}

TEST_F(MemoLines, AddAppendsOneLine)
{
    type("Memo1");
    memo.Lines->Add("First Page");
    memo.Lines->Add("2th Page");
    EXPECT_EQ(count(), 3);
    EXPECT_EQ(line(2), "2th Page");

    type("a\n");
    memo.Lines->Add("b");
    EXPECT_EQ(count(), 2);
    EXPECT_EQ(line(1), "b");

    type("");
    memo.Lines->Add("only");
    EXPECT_EQ(count(), 1);
    EXPECT_EQ(line(0), "only");
}

TEST_F(MemoLines, ShiftEnterBreaksALineInsideAParagraph)
{
    // Typed as an operator does: "osl", Shift+Enter, "adl", Enter, "krk".
    auto press = [&](int key, Qt::KeyboardModifiers modifiers, const QString& text) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QCoreApplication::sendEvent(&memo, &event);
    };
    memo.setFocus();
    memo.insertPlainText("osl");
    press(Qt::Key_Return, Qt::ShiftModifier, "\r");
    memo.insertPlainText("adl");
    press(Qt::Key_Return, Qt::NoModifier, "\r");
    memo.insertPlainText("krk");
    ASSERT_EQ(memo.document()->blockCount(), 2) << "Shift+Enter stays inside the first paragraph";
    ASSERT_EQ(count(), 3);
    EXPECT_EQ(line(0), "osl");
    EXPECT_EQ(line(1), "adl");
    EXPECT_EQ(line(2), "krk");
    EXPECT_EQ(memo.Lines->All(), (std::vector<AnsiString>{"osl", "adl", "krk"}));

    // Either separator as the final break leaves no extra line.
    for (const QString& text : {QStringLiteral("osl\u2028"), QStringLiteral("osl\u2029")}) {
        type(text);
        EXPECT_EQ(count(), 1);
        memo.Lines->Add("adl");
        EXPECT_EQ(count(), 2);
        EXPECT_EQ(line(0), "osl");
        EXPECT_EQ(line(1), "adl");
    }
    type(QStringLiteral("a\u2028\u2028b"));
    EXPECT_EQ(count(), 3);
    EXPECT_EQ(line(1), "");
    EXPECT_EQ(line(2), "b");
}

// Message boxes go to the fixture while it lives.
class Messages : public ::testing::Test, private MessageSink {
protected:
    QStringList messages, errors;

private:
    void Message(const QString& t) override { messages << t; }
    void Error(const QString& t) override { errors << t; }
    ScopedMessageSink installed_{*this};
};

TEST(MessagesWithoutDisplay, GoToStandardErrorInsteadOfWaitingForAClick)
{
    // The tests run on the offscreen platform: an invisible modal box would
    // never be dismissed, so the call must return at once.
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
    ASSERT_EQ(CurrentMessageSink(), nullptr);
    ::testing::internal::CaptureStderr();
    ShowMessage("Table Open Exception");
    Application->ShowException("disk full");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Table Open Exception"), std::string::npos) << err;
    EXPECT_NE(err.find("disk full"), std::string::npos) << err;
}

// A tool or fixture installs a sink for a while: when it goes, the boxes
// must go back to the sink before it, and after the last one to the screen
// (here standard error) instead of being swallowed by a sink that is gone.
class CollectedMessages final : public MessageSink {
public:
    QStringList texts;
    void Message(const QString& t) override { texts << t; }
    void Error(const QString& t) override { texts << "error: " + t; }
};

TEST(MessageSinkInstallers, EachHandsTheBoxesBackToTheOneBeforeItWhenItGoes)
{
    CollectedMessages outer, inner;
    {
        ScopedMessageSink outerInstalled(outer);
        {
            ScopedMessageSink innerInstalled(inner);
            ShowMessage("Table Open Exception");
            Application->ShowException("disk full");
        }
        ShowMessage("COM Init 에러");
    }
    ::testing::internal::CaptureStderr();
    ShowMessage("URL Moniker 생성 실패");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(inner.texts, QStringList({"Table Open Exception", "error: disk full"}));
    EXPECT_EQ(outer.texts, QStringList({"COM Init 에러"}));
    EXPECT_NE(err.find("URL Moniker 생성 실패"), std::string::npos) << err;
    EXPECT_EQ(CurrentMessageSink(), nullptr);
}

TEST_F(Messages, ShowMessageHandsTheTextToTheSink)
{
    ShowMessage("Table Open Exception");
    ShowMessage("COM Init 에러");
    EXPECT_EQ(messages, QStringList({"Table Open Exception", "COM Init 에러"}));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(Messages, ErrorEscapingATimerHandlerIsShownAndTheLoopGoesOn)
{
    QObject owner;
    TTimer timer(&owner);
    timer.SetInterval(5);
    int ticks = 0;
    timer.OnTimer = [&](TObject*) {
        ++ticks;
        throw std::runtime_error("database is locked");
    };
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    timer.SetEnabled(false);
    EXPECT_GE(errors.size(), 3);
    EXPECT_EQ(errors.first(), "database is locked");
}

TEST_F(Messages, FailedCloseHandlerIsReportedAndTheWindowClosesAllTheSame)
{
    // A window that stayed open would fail the same way at every close or
    // SIGTERM, and could only be ended by SIGKILL.
    TForm form;
    int closes = 0;
    form.OnClose = [&](TObject*, int&) {
        ++closes;
        throw std::runtime_error("disk full");
    };
    form.show();
    form.close();
    EXPECT_EQ(errors, QStringList({"disk full"}));
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(form.isVisible());
}

TEST(Close, SecondCloseWhileTheHandlerRunsIsIgnored)
{
    TForm form;
    int closes = 0;
    form.OnClose = [&](TObject*, int&) {
        ++closes;
        QCloseEvent again;
        QCoreApplication::sendEvent(&form, &again);  // e.g. a signal arriving during the save
        EXPECT_FALSE(again.isAccepted());
    };
    form.show();
    form.close();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(form.isVisible());
}

TEST(Timer, ReEnablingARunningTimerDoesNotRestartItsInterval)
{
    QObject owner;
    TTimer timer(&owner);
    timer.SetInterval(100);
    int ticks = 0;
    timer.OnTimer = [&](TObject*) { ++ticks; };
    // Re-enable far more often than the interval: a restart would starve it.
    QTimer nagger;
    QObject::connect(&nagger, &QTimer::timeout, [&] { timer.SetEnabled(true); });
    nagger.start(5);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
    EXPECT_TRUE(timer.Enabled());
}

TEST(Timer, DisabledTimerStaysQuietUntilEnabled)
{
    QObject owner;
    TTimer timer(&owner);
    timer.SetInterval(1);
    int ticks = 0;
    timer.OnTimer = [&](TObject*) { ++ticks; };
    timer.SetEnabled(false);
    QCoreApplication::processEvents();
    const int before = ticks;
    QTimer probe;
    probe.setSingleShot(true);
    bool probed = false;
    QObject::connect(&probe, &QTimer::timeout, [&] { probed = true; });
    probe.start(30);
    PumpUntil([&] { return probed; });
    EXPECT_EQ(ticks, before);
    timer.SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return ticks > before; }));
}

TEST(StringList, KeepsOrderAndDuplicates)
{
    TStringList list;
    EXPECT_EQ(list.Add("b"), 0);
    EXPECT_EQ(list.Add("a"), 1);
    EXPECT_EQ(list.Add("b"), 2);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Strings(0), "b");
    EXPECT_EQ(list.Strings(2), "b");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
