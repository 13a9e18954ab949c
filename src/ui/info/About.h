#pragma once
// The version-information box: logo, product title, version text and the maker's three lines
// above a full-width OK button. It holds nothing and does nothing but show itself. Created once,
// hidden, right after the main window; every showing is modal and reuses the same object, so
// the only thing kept between showings is where the user left it. GUI thread only.

#include <QDialog>
#include <optional>

class QLabel;
class QPushButton;

namespace ui {

class Panel;

class TAbout : public QDialog {
public:
    // `owner` is the window the box stays in front of (the main window); it may be null. The
    // layout scale follows the screen unless a test fixes it.
    explicit TAbout(QWidget* owner = nullptr, std::optional<double> scale = std::nullopt);
    ~TAbout() override;

    // Components, in the order of the layout.
    QPushButton* OKBtn = nullptr;
    Panel* Panel1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* ver = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;

    void FormCreate();

    // Shows the box modally over every other window of the application and returns when it is
    // closed: by OK, Enter, the close box or Alt+F4. Centred on the desktop the first time,
    // afterwards where it was last. Returns the dialog's result, which callers may ignore.
    int ShowModal();

    double LayoutScaleFactor() const { return scale_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    void WireHandlers();

    double scale_ = 1.0;
    bool shownBefore_ = false;
};

// The About box of the running program; null before it is created and after it is gone.
extern TAbout* About;

}  // namespace ui
