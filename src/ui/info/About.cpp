#include "ui/info/About.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>

#include "common/Version.h"
#include "ui/Bevel.h"
#include "ui/Placement.h"
#include "ui/Scaling.h"
#include "ui/info/ApplicationIcon.h"

namespace ui {

TAbout* About = nullptr;

namespace {

const char* const kVersionText = "lite version " KELVANE_VERSION_TEXT;
const char* const kMakerNotice = "Copyright (C) Kelvane Limited 無断転載禁止";
// The product has no public site: addresses under a domain reserved for examples.
const char* const kWebLine = "Homepage: https://www.kelvane.example/";
const char* const kMailLine = "E-mail: support@kelvane.example";

// The box follows the screen's text size by the main window's rule. Its design text height of
// 12 belongs to its own font, whose stand-in on this system measures 13 at 96 dpi and would
// swell the box by a twelfth on an ordinary screen; the main window's measured font gives the
// factor the box's own font gives where the layout was drawn: 1 at 96 dpi, 1.5 at 144 dpi.
double ScreenScale() { return ScreenLayoutScale(18); }

void SetColors(QWidget* widget, const QColor& background, std::optional<QColor> text) {
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, background);
    if (text) pal.setColor(QPalette::WindowText, *text);
    widget->setPalette(pal);
    widget->setAutoFillBackground(true);
}

}  // namespace

TAbout::TAbout(QWidget* owner, std::optional<double> scale) : QDialog(owner), scale_(scale.value_or(ScreenScale())) {
    setWindowTitle(QStringLiteral("バージョン情報"));
    // A dialog frame whose title bar carries the close box and nothing else.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    setSizeGripEnabled(false);
    setFont(LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 12, scale_));
    SetColors(this, palette().color(QPalette::Button), std::nullopt);
    CreateControls();
    WireHandlers();
    setFixedSize(Scaled(291, scale_), Scaled(140, scale_));
    KeepFittedSize(this);
    FormCreate();
}

TAbout::~TAbout() {
    if (About == this) About = nullptr;
}

void TAbout::CreateControls() {
    const double s = scale_;
    auto place = [s](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(Scaled(QRect(x, y, width, height), s));
    };
    // Labels size themselves to their text and keep their left edge.
    auto label = [s](QLabel* l, int x, int y, const QFont& font) {
        l->setFont(font);
        l->move(Scaled(x, s), Scaled(y, s));
        l->adjustSize();
    };
    const QString arial = QStringLiteral("Arial");

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    place(OKBtn, 0, 121, 289, 19);
    OKBtn->setDefault(true);

    // Outside in: a 1-pixel lowered edge, 2 pixels of white, a 1-pixel raised edge.
    Panel1 = new Panel(Edge::Lowered, 2, Edge::Raised, this);
    Panel1->SetColor(Qt::white);
    place(Panel1, 0, 0, 291, 121);
    Panel1->setFocusPolicy(Qt::NoFocus);

    // Created in the order of the layout, so that where Label3 and Label4 overlap by two pixels
    // the later one is drawn on top, as the layout has it.
    Label2 = new QLabel(QString::fromUtf8(kMakerNotice), Panel1);
    label(Label2, 4, 68, LayoutFont(QStringLiteral("ＭＳ Ｐゴシック"), 12, s, true));

    Image2 = new QLabel(Panel1);
    Image2->setPixmap(QPixmap(QStringLiteral(":/kelvane/logo.bmp")));
    Image2->setScaledContents(true);  // stretched, proportions not kept
    place(Image2, 5, 5, 62, 60);

    ver = new QLabel(Panel1);
    label(ver, 172, 49, LayoutFont(arial, 13, s, true));

    Label4 = new QLabel(QString::fromUtf8(kMailLine), Panel1);
    label(Label4, 5, 94, LayoutFont(arial, 13, s));

    Label3 = new QLabel(QString::fromUtf8(kWebLine), Panel1);
    label(Label3, 6, 81, LayoutFont(arial, 12, s));
    SetColors(Label3, Qt::white, QColor(Qt::black));

    Label1 = new QLabel(QStringLiteral("Kelvane"), Panel1);
    label(Label1, 69, 13, LayoutFont(QStringLiteral("Comic Sans MS"), 27, s, true));

    // Labels are not transparent: they paint their parent's white.
    for (QLabel* l : {Label2, Image2, ver, Label4, Label1}) SetColors(l, Qt::white, std::nullopt);
}

void TAbout::WireHandlers() {
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    // Without a window manager nobody turns Alt+F4 into a close request; do it here.
    auto* altF4 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
    connect(altF4, &QShortcut::activated, this, &QWidget::close);
}

void TAbout::FormCreate() {
    ver->setText(QString::fromUtf8(kVersionText));
    ver->adjustSize();
}

int TAbout::ShowModal() {
    if (!shownBefore_) {
        create();  // so that the frame, where the platform knows it already, counts in the centring
        CentreOnDesktop(this);
        shownBefore_ = true;
    }
    // The window that was active gets the keyboard back once the box has gone, also where no
    // window manager would hand it back.
    QPointer<QWidget> before = QApplication::activeWindow();
    setWindowModality(Qt::ApplicationModal);
    OKBtn->setFocus(Qt::OtherFocusReason);
    const int result = exec();
    if (before) before->activateWindow();
    return result;
}

void TAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The box takes the keyboard as it appears, also where no window manager hands it over, so
    // that Enter answers it at once.
    activateWindow();
}

void TAbout::keyPressEvent(QKeyEvent* event) {
    // The box has no cancel button, so Esc closes nothing.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace ui
