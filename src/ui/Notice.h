#pragma once
// The two ways the program talks to the user: ShowNotice (a plain message with OK) and
// ReportFailure (the failure of a handler, with the stop icon). Both are modal and titled with
// the application title. Tests may install a recorder in place of the real boxes.

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <utility>

namespace ui {

inline const char* const ApplicationTitle = "Kelvane Limited";

// Where notices and failures end up. The default shows Qt message boxes.
class MessageDisplay {
public:
    virtual ~MessageDisplay() = default;
    virtual void Notice(const QString& text) = 0;
    virtual void Failure(const QString& text) = 0;
    // A yes/no question; true for yes.
    virtual bool Question(const QString& text) = 0;
    // A question with the given buttons; the number of the one chosen.
    virtual int Choice(const QString& text, const QStringList& buttons) = 0;
};

// Installs a display for tests; nullptr restores the real boxes. Not owned.
void SetMessageDisplay(MessageDisplay* display);

void ShowNotice(const std::string& text);

// Asks before something the user has is given up; true when the user said yes. No is the
// default answer, so a stray Enter keeps what there is.
bool AskYesNo(const std::string& text);

// What becomes of data that would be lost unsaved: the user saves it first, lets it go, or stays
// where things were. Staying is the default answer, and what Esc and the close box give.
enum class UnsavedAnswer { Save, Discard, Stay };
UnsavedAnswer AskUnsaved(const std::string& text);

// Shows a failure's message, with "." appended where the text needs one, after releasing any
// mouse capture so the box can be answered.
void ReportFailure(const std::string& message);

// Runs `handler`; a C++ exception never leaves it, it goes to ReportFailure instead. Every
// event handler is connected through this: an exception must not unwind through Qt's loop.
void RunGuarded(const std::function<void()>& handler);

template <typename F>
auto Guarded(F handler) {
    return [handler](auto&&... args) {
        RunGuarded([&] { handler(std::forward<decltype(args)>(args)...); });
    };
}

}  // namespace ui
