#include "ui/Form1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QThread>
#include <vector>

#include "midi/Input.h"
#include "midi/Port.h"
#include "settings/Settings.h"
#include "smf/DumpWriter.h"
#include "sysex/NoDataText.h"
#include "smf/SmfWriter.h"
#include "sysex/Checksum.h"
#include "sysex/Inspector.h"
#include "sysex/Loader.h"
#include "sysex/Reception.h"
#include "sysex/Store.h"
#include "ui/Bevel.h"
#include "ui/EditActions.h"
#include "ui/FileDialog.h"
#include "ui/LoadProgress.h"
#include "ui/MessageList.h"
#include "ui/PortSelector.h"
#include "ui/Notice.h"
#include "ui/OpenRequest.h"
#include "ui/Placement.h"
#include "ui/Receive.h"
#include "ui/Send.h"
#include "ui/Scaling.h"

namespace ui {

TForm1* Form1 = nullptr;

namespace {

// List lines (13 design pixels) and port selector entries (12) are as high as the layout says,
// whatever the font would ask for.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    FixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
    }

private:
    int height_;
};

// The hourglass stays only as long as the work: it comes back to the arrow when start-up ends,
// also when it ends in a failure.
class BusyCursor {
public:
    explicit BusyCursor(QWidget* window) : window_(window) { window_->setCursor(Qt::WaitCursor); }
    ~BusyCursor() { window_->unsetCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    QWidget* window_;
};

// "MIDI OUT" in a 15-pixel Courier fills its 89 pixels with Windows' tight check-box spacing;
// Qt's default spacing would push the caption's first letter out of the box.
class TightCheckBoxStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_CheckBoxLabelSpacing) return 2;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// While a port change waits for a sound server that does not answer, the window still repaints;
// user input waits, so no handler runs twice.
void RepaintWhileWaiting() {
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// A dropped dump is only read, so the drop is a copy even when the file manager proposes a
// move: it deletes the original after an accepted move.
bool AcceptAsCopy(QDropEvent& event) {
    if (!(event.possibleActions() & Qt::CopyAction) || !DroppedFile(*event.mimeData())) return false;
    event.setDropAction(Qt::CopyAction);
    event.accept();
    return true;
}

// For the enabled states only: a disabled control (and "MIDI OUT" inherits this from its panel)
// keeps the platform's disabled text colour.
void SetTextColor(QWidget* widget, const QColor& color) {
    QPalette pal = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) pal.setColor(group, role, color);
    widget->setPalette(pal);
}

}  // namespace

TForm1::TForm1(FormSeams seams) : seams_(std::move(seams)) {
    if (!seams_.makeFileDialog) seams_.makeFileDialog = MakeQtFileDialog;
    scale_ = ScreenLayoutScale(18);
    setWindowTitle(QStringLiteral("Kelvane lite"));
    // A normal frame that never changes size, with minimise and close but no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    CreateControls();
    CreateMenu();
    CreateDialogs();
    CreateEditing();
    WireHandlers();
    FixSize();
    setAcceptDrops(true);
    midi::SetWhileWaiting(RepaintWhileWaiting);
    RunGuarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateControls() {
    const double s = scale_;
    client_ = new QWidget(this);
    client_->setAutoFillBackground(true);
    client_->setBackgroundRole(QPalette::Button);
    setCentralWidget(client_);
    auto place = [s](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(Scaled(QRect(x, y, width, height), s));
    };
    const QString pGothic = QStringLiteral("ＭＳ Ｐゴシック");
    const QColor buttonFace = palette().color(QPalette::Button);

    Panel1 = new Panel(Edge::Raised, 0, Edge::None, client_);
    Panel1->SetColor(buttonFace);
    place(Panel1, 0, 0, 328, 153);

    Bevel3 = new Bevel(Bevel::Shape::Box, Panel1);
    place(Bevel3, 8, 4, 152, 18);
    Bevel4 = new Bevel(Bevel::Shape::Box, Panel1);
    place(Bevel4, 164, 4, 152, 18);

    Label3 = new QLabel(QStringLiteral("No. Information"), Panel1);
    Label3->setFont(LayoutFont(pGothic, 13, s, true));
    Label3->move(Scaled(33, s), Scaled(6, s));
    Label3->adjustSize();

    Label4 = new QLabel(QStringLiteral("詳細情報"), Panel1);
    Label4->setFont(LayoutFont(QStringLiteral("ＭＳ ゴシック"), 13, s, true));
    Label4->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label4->move(Scaled(214, s), Scaled(7, s));
    Label4->adjustSize();

    Bevel1 = new Bevel(Bevel::Shape::Frame, Panel1);
    place(Bevel1, 8, 24, 152, 122);
    Bevel2 = new Bevel(Bevel::Shape::Frame, Panel1);
    place(Bevel2, 164, 23, 154, 123);

    SysEx = new MessageList(Panel1);
    place(SysEx, 10, 26, 147, 117);
    SysEx->setFont(LayoutFont(pGothic, 13, s));
    SysEx->setFrameShape(QFrame::NoFrame);
    SysEx->setSelectionMode(QAbstractItemView::ExtendedSelection);
    SysEx->setItemDelegate(new FixedHeightDelegate(Scaled(13, s), SysEx));
    SysEx->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SysEx->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    SysEx->setAttribute(Qt::WA_InputMethodEnabled, false);

    SysInfo = new QPlainTextEdit(Panel1);
    place(SysInfo, 167, 26, 147, 117);
    SysInfo->setFont(LayoutFont(pGothic, 13, s, true));
    SysInfo->setFrameShape(QFrame::NoFrame);
    SysInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    SysInfo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    SysInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SysInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SysInfo->document()->setDocumentMargin(1);
    // A file dropped on the pane is a dump for the window to open, not text to paste in.
    SysInfo->setAcceptDrops(false);

    pnlColumnHeading = new Panel(Edge::Raised, 0, Edge::None, client_);
    pnlColumnHeading->SetColor(buttonFace);
    place(pnlColumnHeading, 0, 151, 328, 27);
    pnlColumnHeading->setFont(LayoutFont(QStringLiteral("Courier"), 15, s, true));
    SetTextColor(pnlColumnHeading, Qt::black);
    pnlColumnHeading->raise();  // it overlaps the bottom two pixels of Panel1

    cmbOutput = new PortSelector(pnlColumnHeading);
    place(cmbOutput, 96, 3, 223, 20);
    cmbOutput->setEditable(false);
    cmbOutput->setFont(LayoutFont(QStringLiteral("Arial"), 12, s, true));
    cmbOutput->setItemDelegate(new FixedHeightDelegate(Scaled(12, s), cmbOutput));
    SetTextColor(cmbOutput, Qt::black);

    EXC_SW = new QCheckBox(QStringLiteral("MIDI OUT"), pnlColumnHeading);
    place(EXC_SW, 5, 5, 89, 17);
    EXC_SW->setLayoutDirection(Qt::RightToLeft);  // caption left of the box
    auto* tight = new TightCheckBoxStyle;
    tight->setParent(EXC_SW);
    EXC_SW->setStyle(tight);
    EXC_SW->setChecked(false);
    EXC_SW->setEnabled(true);

    for (QWidget* w : std::initializer_list<QWidget*>{Panel1, pnlColumnHeading, Label3, Label4, Bevel1, Bevel2, Bevel3, Bevel4})
        w->setFocusPolicy(Qt::NoFocus);
    setTabOrder(cmbOutput, EXC_SW);
    setTabOrder(EXC_SW, SysEx);
    setTabOrder(SysEx, SysInfo);
    SysInfo->setTabChangesFocus(true);
}

void TForm1::CreateMenu() {
    MainMenu1 = menuBar();
    File1 = MainMenu1->addMenu(QStringLiteral("ファイル(&F)"));
    SysexI1 = File1->addAction(QStringLiteral("データを開く(&O)"));
    SysexI1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    ReceiveDump = File1->addAction(QStringLiteral("受信(&R)..."));
    SendDump = File1->addAction(QStringLiteral("送信(&T)..."));
    SMF1 = File1->addAction(QStringLiteral("SMF形式で保存"));
    SMF1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    ExportRawDump = File1->addAction(QStringLiteral("SysEx形式で保存"));
    N1 = File1->addSeparator();
    mnuExit = File1->addAction(QStringLiteral("終了(&X)"));
    mnuExit->setShortcut(QKeySequence(Qt::Key_F10));
    Edit1 = MainMenu1->addMenu(QStringLiteral("編集(&E)"));
    Help1 = MainMenu1->addMenu(QStringLiteral("ヘルプ(&H)"));
    About1 = Help1->addAction(QStringLiteral("バージョン情報(&A)"));
    // Shortcuts work while this window is active, whichever control has the focus, and not
    // while a modal box of the application is open.
    for (QAction* action : {SysexI1, SMF1, mnuExit}) action->setShortcutContext(Qt::WindowShortcut);
    // After the file commands, before the separator and the exit.
    CheckChecksums = new QAction(QStringLiteral("チェックサムを確認(&C)"), File1);
    File1->insertAction(N1, CheckChecksums);
}

void TForm1::CreateDialogs() {
    OpenDialog1 = seams_.makeFileDialog({FileDialogSetup::Kind::Open, QStringLiteral("SysEx File(*.EX *.SYX)"), {},
                                          {QStringLiteral("Standard MIDI File(*.MID *.MIDI)"),
                                           QStringLiteral("RIFF MIDI File(*.RMI)")}},
                                         this);
    SaveDialog1 = seams_.makeFileDialog(
        {FileDialogSetup::Kind::Save, QStringLiteral("Standard MIDI File (*.mid)"), QStringLiteral("mid")}, this);
    SaveRawDumpDialog = seams_.makeFileDialog(
        {FileDialogSetup::Kind::Save, QStringLiteral("SysEx File(*.SYX)"), QStringLiteral("syx")}, this);
}

void TForm1::CreateEditing() {
    EditSetup setup;
    setup.window = this;
    setup.scale = scale_;
    setup.list = SysEx;
    setup.openDialog = OpenDialog1.get();
    setup.relist = [this] { ListStore(); };
    setup.showInfo = [this](int k) { ShowInfo(k); };
    Edits = new EditActions(std::move(setup));
    Edits->Fill(Edit1);
}

void TForm1::WireHandlers() {
    connect(SysexI1, &QAction::triggered, this, Guarded([this](bool) { SysexI1Click(); }));
    connect(SMF1, &QAction::triggered, this, Guarded([this](bool) { SMF1Click(); }));
    connect(ReceiveDump, &QAction::triggered, this, Guarded([this](bool) { ReceiveDumpClick(); }));
    connect(SendDump, &QAction::triggered, this, Guarded([this](bool) { SendDumpClick(); }));
    connect(ExportRawDump, &QAction::triggered, this, Guarded([this](bool) { ExportRawDumpClick(); }));
    connect(mnuExit, &QAction::triggered, this, Guarded([this](bool) { mnuExitClick(); }));
    connect(About1, &QAction::triggered, this, Guarded([this](bool) { About1Click(); }));
    connect(CheckChecksums, &QAction::triggered, this, Guarded([this](bool) { CheckChecksumsClick(); }));
    connect(SysEx, &MessageList::userSelected, this, Guarded([this](int) { SysExClick(); }));
    connect(cmbOutput, &PortSelector::userChose, this, Guarded([this](int) { cmbOutputChange(); }));
    cmbOutput->beforePopup = [this] { RunGuarded([this] { RefreshOutputEntries(); }); };
    // Without a window manager nobody turns Alt+F4 into a close request; do it here.
    auto* altF4 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
    connect(altF4, &QShortcut::activated, this, &QWidget::close);
}

void TForm1::FixSize() {
    client_->setFixedSize(Scaled(328, scale_), Scaled(178, scale_));
    // Every size change is replaced by the fitted size.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    KeepFittedSize(this);
}

void TForm1::FormCreate() {
    BusyCursor busy(this);
    cmbOutput->clear();
    // Whole names: the port is remembered and found again by all of its name.
    const std::vector<std::string> entries = midi::ReadPortEntries(midi::EntryWidth::Whole);
    cmbOutput->Refill(entries);
    cmbOutput->setCurrentIndex(-1);  // Qt selects the first entry added; nothing is chosen yet
    settings::SettingsStartupStep([this](std::uint8_t mode) { INIT(mode); });
    const int r = midi::StartPort(settings::RememberedOutputEntry(entries));
    cmbOutput->setCurrentIndex(midi::OutDeviceIndex < cmbOutput->count() ? midi::OutDeviceIndex : -1);
    EXC_SW->setChecked(r == 0);
    sysex::SysExCount = 0;
}

void TForm1::mnuExitClick() {
    if (!CaptureMayGo()) return;
    // Qt closes the windows on the way out; the user has answered already.
    leaving_ = true;
    QCoreApplication::quit();
}

// The close box, the system menu and Alt+F4 end the program as the exit command does.
void TForm1::closeEvent(QCloseEvent* event) {
    bool go = false;
    RunGuarded([&] { go = leaving_ || CaptureMayGo(); });
    if (go) {
        QMainWindow::closeEvent(event);
    } else {
        event->ignore();
    }
}

bool TForm1::EditsUnsaved() const { return Edits->Modified(); }

bool TForm1::CaptureMayGo() {
    if ((!captureUnsaved_ && !EditsUnsaved()) || sysex::SysExCount == 0) return true;
    const std::string what = captureUnsaved_ ? "受信した " : "編集した ";
    switch (AskUnsaved(what + std::to_string(sysex::SysExCount) + " メッセージは保存されていません。保存しますか?")) {
        case UnsavedAnswer::Save:
            if (!SaveRawDumpDialog->Execute()) return false;
            EXPORT_RAW_DUMP();  // a failed save throws, and so stays
            return true;
        case UnsavedAnswer::Discard:
            return true;
        case UnsavedAnswer::Stay:
            break;
    }
    return false;
}

void TForm1::About1Click() {
    if (seams_.showAbout) seams_.showAbout();
}

void TForm1::ExcOut(const std::uint8_t* bytes, int lastIndex) {
    if (!EXC_SW->isChecked()) return;
    midi::SendOnOpenPort(bytes, lastIndex);
}

void TForm1::cmbOutputChange() {
    const int r = midi::ChangePort(cmbOutput->currentIndex());
    EXC_SW->setChecked(r == 0);
    EXC_SW->setEnabled(r == 0);
    ExcOut(midi::GMSystemOn.data(), static_cast<int>(midi::GMSystemOn.size()) - 1);
    const std::string name = cmbOutput->currentIndex() > 0 ? cmbOutput->ChosenName() : std::string();
    // Read before the save, which may fail on its own account.
    const std::string why = r == 0 ? std::string() : midi::OpenPortError();
    settings::PortChangeSave(midi::OutDeviceIndex, name, [this](std::uint8_t mode) { INIT(mode); });
    // "MIDI OUT" alone going grey would leave the user guessing.
    if (r != 0) ShowNotice("出力ポート「" + name + "」を開けません: " + why);
}

std::vector<std::string> TForm1::RefreshOutputEntries(bool tell, std::string* gone) {
    midi::StartReadingPortEntries();
    const std::vector<std::string> entries = midi::ReadPortEntries(midi::EntryWidth::Whole);
    const std::string lost = cmbOutput->Refill(entries);
    if (cmbOutput->currentIndex() >= 0) midi::OutDeviceIndex = cmbOutput->currentIndex();
    if (gone) *gone = lost;
    if (lost.empty()) return entries;
    // Whatever took its place is not the port the user chose.
    midi::OutDeviceIndex = -1;
    midi::MidiOutHandle.reset();
    EXC_SW->setChecked(false);
    if (tell) {
        const std::string gap = midi::PortListingGap();
        ShowNotice("出力ポート「" + lost + "」が見つかりません" + (gap.empty() ? "" : " (" + gap + ")") +
                   "\n接続を確かめて、MIDI OUT の一覧から出力ポートを選び直してください");
    }
    return entries;
}

void TForm1::ShowInfo(int k) {
    SysInfo->clear();
    if (k < 0 || k >= sysex::SysExCount) return;
    for (const std::string& line : sysex::InfoLines(k)) SysInfo->appendPlainText(QString::fromStdString(line));
}

void TForm1::SysExClick() {
    const int k = SysEx->currentRow();
    if (k < 0 || k >= sysex::SysExCount) return;
    ShowInfo(k);
    const sysex::MessageBytes message = sysex::MessageAt(k);
    ExcOut(message.data(), static_cast<int>(message.size()) - 1);
}

void TForm1::INIT(std::uint8_t mode) { MIDI_Reg(mode); }

void TForm1::MIDI_Reg(std::uint8_t mode) { settings::MIDI_Reg(mode, settings::DefaultRegistryStore()); }

void TForm1::SysexI1Click() {
    if (!CaptureMayGo()) return;
    if (!OpenDialog1->Execute()) {
        SysEx->clear();
        SysInfo->clear();
        return;
    }
    LoadIntoList(OpenDialog1->FileName());
}

void TForm1::OpenDumpFile(const std::string& pathUtf8) {
    if (!CaptureMayGo()) return;
    OpenDialog1->SetFileName(pathUtf8);
    LoadIntoList(pathUtf8);
}

void TForm1::LoadIntoList(const std::string& pathUtf8) {
    std::optional<FinishedLoad> load = LoadWithProgress(this, scale_, pathUtf8, seams_.afterLoadRead);
    if (!load) return;
    load->MoveIntoStore();
    captureUnsaved_ = false;  // the store now holds what a file on disk holds
    SysEx->clear();
    SysInfo->clear();
    Edits->Forget();
    ShowStoredMessages(sysex::DroppedNotice(load->result));
}

void TForm1::ShowStoredMessages(const std::string& droppedNotice) {
    ListStore();
    if (!droppedNotice.empty()) ShowNotice(droppedNotice);
}

void TForm1::ListStore() {
    // The lines read the store as they are shown; until the store is listed again the list
    // shows this many messages, whatever the store holds meanwhile.
    const int count = sysex::MessageCount();
    SysEx->ShowLines(count, [count](int i) {
        return i < count && i < sysex::MessageCount() ? QString::fromStdString(sysex::ListLine(i)) : QString();
    });
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) { AcceptAsCopy(*event); }

void TForm1::dropEvent(QDropEvent* event) {
    if (!AcceptAsCopy(*event)) return;
    const std::optional<std::string> path = DroppedFile(*event->mimeData());
    // Opened once the drop is over: a notice or failure box shown inside the drop would keep the
    // file manager waiting for the drop's answer. With Ctrl held the file's messages are
    // inserted instead.
    if (event->modifiers() & Qt::ControlModifier) {
        QTimer::singleShot(0, this, Guarded([this, file = *path] { Edits->InsertFileMessages(file); }));
        return;
    }
    QTimer::singleShot(0, this, Guarded([this, file = *path] { OpenDumpFile(file); }));
}

void TForm1::ReceiveDumpClick() {
    if (!CaptureMayGo()) return;
    ReceiveSetup setup;
    setup.listInputs = [] { return ListAside([] { return midi::ReadInputEntries(midi::EntryWidth::Whole); }); };
    setup.listOutputs = [this] { return RefreshOutputEntries(false); };
    setup.inputEntries = setup.listInputs();
    setup.inputListingGap = midi::InputListingGap();
    setup.rememberedEntry = settings::RememberedInputEntry(setup.inputEntries);
    setup.outputEntries = setup.listOutputs();
    setup.openOutputEntry = midi::MidiOutHandle ? midi::OutDeviceIndex : 0;
    setup.requestCount = sysex::MessageCount();
    setup.requestLine = [](int i) { return sysex::ListLine(i); };
    setup.inputChosen = [this, entries = setup.inputEntries](int entry) {
        const std::string name = entry > 0 && entry < static_cast<int>(entries.size()) ? entries[entry] : std::string();
        settings::InputChoiceSave(entry, name, [this](std::uint8_t mode) { INIT(mode); });
    };
    setup.storedMessage = [](int k) {
        const sysex::MessageBytes message = sysex::MessageAt(k);
        return std::vector<std::uint8_t>(message.begin(), message.end());
    };
    // The user asked for this request here, so it goes out whether or not MIDI OUT is ticked.
    setup.sendRequest = [](int entry, std::span<const std::uint8_t> request) {
        std::string error;
        if (midi::SendOnEntry(entry, request, error) != 0) throw kelvane::Failure("要求を送信できません: " + error);
    };
    TReceive dialog(this, scale_, std::move(setup));
    if (dialog.exec() != QDialog::Accepted) return;
    const std::unique_ptr<sysex::Reception> reception = dialog.TakeReception();
    if (!reception) return;
    const sysex::ReceptionSummary summary = reception->MoveIntoStore();
    if (summary.scan.stored > 0) {
        captureUnsaved_ = true;
        Edits->Forget();
        SysEx->clear();
        SysInfo->clear();
        ShowStoredMessages({});
    }
    ShowNotice(sysex::ReceptionSummaryText(summary));
}

// The send dialog uses the open port whether or not "MIDI OUT" is ticked: the user asked for
// this send. The dialog is modal, so nothing else sends on the port or changes it meanwhile.
void TForm1::SendDumpClick() {
    RefreshOutputEntries();
    SendSetup setup;
    setup.port = midi::MidiOutHandle.get();
    if (setup.port) setup.portName = cmbOutput->ChosenName();
    for (int k = 0; k < sysex::MessageCount(); ++k) setup.messageSizes.push_back(sysex::MessageAt(k).size());
    setup.selectedMessage = SysEx->currentRow();
    setup.message = [](int k) {
        const sysex::MessageBytes message = sysex::MessageAt(k);
        return std::vector<std::uint8_t>(message.begin(), message.end());
    };
    const settings::SendPace remembered = settings::LoadSendPace(settings::DefaultRegistryStore());
    setup.pace = {remembered.pauseMs, static_cast<int>(remembered.speedPercent)};
    // Once a send has failed: whether its port is still listed. One that has gone is closed
    // here, and the dialog tells how to choose another.
    setup.portGone = [this] {
        std::string gone;
        RefreshOutputEntries(false, &gone);
        return !gone.empty();
    };
    setup.paceChosen = [](const midi::Pace& pace) {
        settings::SaveSendPace({pace.pauseMs, static_cast<std::uint32_t>(pace.speedPercent)},
                               settings::DefaultRegistryStore());
    };
    TSend dialog(this, scale_, std::move(setup));
    dialog.exec();
}

// The user picks files here, not devices: both saves refuse an existing FIFO or device rather
// than write to it (kelvane-cli writes to them on purpose).
constexpr kelvane::SpecialTargets WindowSaveTargets = kelvane::SpecialTargets::Refuse;

void TForm1::ExportRawDumpClick() {
    if (sysex::SysExCount == 0) {
        ShowNotice(sysex::NoDataText);
        return;
    }
    if (!SaveRawDumpDialog->Execute()) return;
    EXPORT_RAW_DUMP();
}

void TForm1::EXPORT_RAW_DUMP() {
    smf::ExportStoreAsDump(SaveRawDumpDialog->FileName(), WindowSaveTargets);
    captureUnsaved_ = false;
    Edits->MarkSaved();
}

void TForm1::SMF1Click() {
    if (sysex::SysExCount == 0) {
        ShowNotice(sysex::NoDataText);
        return;
    }
    if (!SaveDialog1->Execute()) return;
    EXPORT_SMF();
}

void TForm1::EXPORT_SMF() {
    smf::ExportStore(SaveDialog1->FileName(), WindowSaveTargets);
    captureUnsaved_ = false;
    Edits->MarkSaved();
}

// The list and the pane stay as they are: the check is told in a notice of its own.
void TForm1::CheckChecksumsClick() {
    if (sysex::SysExCount == 0) {
        ShowNotice(sysex::NoDataText);
        return;
    }
    ShowNotice(sysex::ChecksumSummary(sysex::CheckStore()));
}

}  // namespace ui
