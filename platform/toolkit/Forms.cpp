#include "platform/toolkit/Forms.h"

#include "platform/base/ReleaseOrder.h"
#include "platform/base/Report.h"
#include "platform/toolkit/MessageSink.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QTextCursor>
#include <QTextDocument>

#include <exception>

TApplication* Application = nullptr;

namespace {

// Without a display (the offscreen and minimal platforms) a modal box is
// invisible but still waits for a click that never comes: a close started
// by a signal would hang forever. There the text goes to standard error.
bool HasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void ShowBox(QMessageBox::Icon icon, const QString& text)
{
    if (!HasDisplay()) {
        platform::ReportLine(QCoreApplication::applicationName() + QStringLiteral(": ") + text);
        return;
    }
    QMessageBox box(icon, QCoreApplication::applicationName(), text, QMessageBox::Ok);
    box.exec();
}

}  // namespace

namespace {
// The browser engine draws with OpenGL contexts shared across windows; Qt
// needs to know before the application object exists.
int& ShareGlContexts(int& argc)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return argc;
}
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(ShareGlContexts(argc), argv)
{
    Application = this;
}

TApplication::~TApplication()
{
    // What asks to go before the application object does (the browser
    // profile and its off-screen page) goes while it is still whole, the
    // newest first: a page needs the profile made before it.
    QList<QPointer<QObject>> owned;
    for (QObject* child : children())
        if (child->property(platform::kReleaseBeforeApplication).toBool())
            owned.prepend(child);
    for (const QPointer<QObject>& child : owned)
        delete child.data();
    if (Application == this)
        Application = nullptr;
}

void TApplication::ProcessMessages()
{
    processEvents(QEventLoop::AllEvents);
}

void TApplication::HandleMessage()
{
    processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TApplication::ShowException(const QString& message)
{
    if (MessageSink* sink = CurrentMessageSink()) {
        sink->Error(message);
        return;
    }
    ShowBox(QMessageBox::Critical, message);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // Qt must never see an exception unwind through its event loop: a handler's
    // error ends that handler only, is shown, and the loop carries on.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowException(QString());
    }
    return true;
}

void ShowMessage(const AnsiString& text)
{
    const QString wide = ToWide(text);
    if (MessageSink* sink = CurrentMessageSink()) {
        sink->Message(wide);
        return;
    }
    ShowBox(QMessageBox::NoIcon, wide);
}

TForm::TForm(QWidget* parent) : QWidget(parent) {}

void TForm::closeEvent(QCloseEvent* event)
{
    if (closing_) {
        event->ignore();
        return;
    }
    closing_ = true;
    int action = 0;
    try {
        if (OnClose)
            OnClose(this, action);
    } catch (const std::exception& e) {
        // The error box reports it and the close goes ahead all the same: a
        // window that refused to close would fail again at every attempt.
        if (Application)
            Application->ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        if (Application)
            Application->ShowException(QString());
    }
    event->accept();
}

TPanel::TPanel(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Raised);
}

void TPanel::SetCaption(const QString& caption)
{
    caption_ = caption;
    update();
}

void TPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (caption_.isEmpty())
        return;
    QPainter painter(this);
    painter.drawText(rect(), Qt::AlignCenter, caption_);
}

TSplitter::TSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent)
{
    setHandleWidth(3);
    setChildrenCollapsible(false);
}

TButton::TButton(QWidget* parent) : QPushButton(parent)
{
    QObject::connect(this, &QPushButton::clicked, this, [this] {
        if (OnClick)
            OnClick(this);
    });
}

namespace {

// A line ends at a paragraph end (U+2029, one per block of the document), at a
// break typed inside a paragraph with Shift+Enter (U+2028) or at a '\n'.
bool IsLineBreak(QChar c)
{
    return c == QLatin1Char('\n') || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

// The memo's lines. Count, Strings and Add all read this one split, so a line
// number means the same to each; reading blocks instead would merge the lines
// of a Shift+Enter break into one. The raw text keeps no-break spaces as typed.
QStringList SplitLines(const QPlainTextEdit& edit)
{
    const QString text = edit.document()->toRawText();
    QStringList lines;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (IsLineBreak(text[i])) {
            lines << text.mid(from, i - from);
            from = i + 1;
        }
    }
    if (from < text.size())
        lines << text.mid(from);  // the empty line after the final break is not a line
    return lines;
}

}  // namespace

int TMemoLines::Count() const
{
    return static_cast<int>(SplitLines(edit_).size());
}

AnsiString TMemoLines::Strings(int index) const
{
    const QStringList lines = SplitLines(edit_);
    if (index < 0 || index >= lines.size())
        return {};
    return ToAnsi(lines[index]);
}

std::vector<AnsiString> TMemoLines::All() const
{
    std::vector<AnsiString> all;
    for (const QString& line : SplitLines(edit_))
        all.push_back(ToAnsi(line));
    return all;
}

void TMemoLines::Add(const AnsiString& line)
{
    // appendPlainText starts a new paragraph, which is one line of the memo;
    // after a final line break the empty last line is filled instead.
    const QString text = edit_.document()->toRawText();
    if (!text.isEmpty() && IsLineBreak(text.back())) {
        QTextCursor cursor(edit_.document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(ToWide(line) + QLatin1Char('\n'));
        return;
    }
    edit_.appendPlainText(ToWide(line));
}

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent), Lines(&lines_), lines_(*this)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

TTimer::TTimer(QObject* owner) : QObject(owner), timer_(this)
{
    timer_.setInterval(1000);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer(this);
    });
    timer_.start();
}

int TTimer::Interval() const { return timer_.interval(); }

void TTimer::SetInterval(int ms)
{
    timer_.setInterval(ms);
    if (enabled_)
        timer_.start();
}

bool TTimer::Enabled() const { return enabled_; }

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;  // re-enabling a running timer must not restart its interval
    enabled_ = enabled;
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}

int TStringList::Add(const AnsiString& s)
{
    items_.push_back(s);
    return Count() - 1;
}
