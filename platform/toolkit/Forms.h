#pragma once
// Stand-ins for the windowing toolkit's application object, form, panel,
// memo, button, splitter, timer, string list and message box, over Qt Widgets.
//
// Handlers are std::function members named after the event (OnClick,
// OnTimer, ...). An exception that escapes a handler never crosses Qt's event
// loop: TApplication catches it, shows its message in the default error box
// and the loop goes on.

#include "platform/base/AnsiString.h"

#include <QApplication>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

using TObject = QObject;
using TNotifyEvent = std::function<void(TObject* Sender)>;

// The application object: owns Qt's application, runs the message loop. Its
// children marked with platform::kReleaseBeforeApplication go first when it
// is destroyed.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // Processes every pending event once and returns; never waits.
    void ProcessMessages();
    // Waits for at least one event (a timer tick, network data, ...) and
    // processes what is pending; returns after that.
    void HandleMessage();
    // Shows `message` in the default error box, or hands it to the installed
    // message sink (MessageSink.h).
    void ShowException(const QString& message);

    // Delivers events; an exception escaping a receiver is shown by
    // ShowException and the event counts as handled.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The one application object, set while a TApplication exists.
extern TApplication* Application;

// A modal box with the text and one OK button; returns when it is dismissed.
// Without a display (offscreen platform) the text goes to standard error and
// the call returns at once. While a message sink is installed (MessageSink.h)
// the text goes to it instead.
void ShowMessage(const AnsiString& text);

class TForm : public QWidget {
public:
    explicit TForm(QWidget* parent = nullptr);
    // Action is passed through untouched; the close always goes ahead.
    std::function<void(TObject* Sender, int& Action)> OnClose;

protected:
    // Runs OnClose once; a close requested again while OnClose is still
    // running (it may pump events) is ignored, the first one goes ahead.
    // An error escaping OnClose is shown in the default error box and the
    // window closes all the same.
    void closeEvent(QCloseEvent* event) override;

private:
    bool closing_ = false;
};

// A raised panel that shows its caption centred, under whatever it holds.
class TPanel : public QFrame {
public:
    explicit TPanel(QWidget* parent = nullptr);
    void SetCaption(const QString& caption);
    QString Caption() const { return caption_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
};

class TSplitter : public QSplitter {
public:
    explicit TSplitter(QWidget* parent = nullptr);
};

class TButton : public QPushButton {
public:
    explicit TButton(QWidget* parent = nullptr);
    TNotifyEvent OnClick;
};

class TMemo;

// A memo's lines: the text split at line breaks (Enter, and Shift+Enter inside
// a paragraph alike), where an empty line after the final line break is not
// counted. Count and Strings read the same split.
class TMemoLines {
public:
    explicit TMemoLines(QPlainTextEdit& edit) : edit_(edit) {}
    int Count() const;
    // Line `index`; empty text for an index outside 0 .. Count() - 1.
    AnsiString Strings(int index) const;
    // Every line, as Strings gives them, from one reading of the text (each
    // Strings call reads the whole text).
    std::vector<AnsiString> All() const;
    void Add(const AnsiString& line);

private:
    QPlainTextEdit& edit_;
};

class TMemo : public QPlainTextEdit {
public:
    explicit TMemo(QWidget* parent = nullptr);
    TMemoLines* const Lines;

private:
    TMemoLines lines_;
};

class TTimer : public QObject {
public:
    explicit TTimer(QObject* owner);
    int Interval() const;
    void SetInterval(int ms);
    bool Enabled() const;
    // Setting true on a running timer changes nothing (the interval is not
    // restarted); false stops it.
    void SetEnabled(bool enabled);
    TNotifyEvent OnTimer;

private:
    QTimer timer_;
    bool enabled_ = true;
};

// An unsorted list of strings; duplicates allowed.
class TStringList {
public:
    int Add(const AnsiString& s);
    int Count() const { return static_cast<int>(items_.size()); }
    const AnsiString& Strings(int index) const { return items_.at(static_cast<size_t>(index)); }
    void Clear() { items_.clear(); }

private:
    std::vector<AnsiString> items_;
};
