#pragma once
// The main window: the message list, the information pane, the port selector with its
// "MIDI OUT" switch, and the menu. Each handler reads the widgets, calls one function of the
// core (sysex/, midi/, smf/) and writes the result back. GUI thread only.

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;

namespace ui {

class Bevel;
class EditActions;
class FileDialog;
struct FileDialogSetup;
class MessageList;
class Panel;
class PortSelector;

// What tests replace: the dialogs (scripted) and the About box (whatever shows it modally).
struct FormSeams {
    std::function<std::unique_ptr<FileDialog>(const FileDialogSetup&, QWidget* owner)> makeFileDialog;
    std::function<void()> showAbout;
    // Called on a load's thread after each read (ui/LoadProgress.h); empty in the program.
    std::function<void(std::uint64_t bytesRead)> afterLoadRead;
};

class TForm1 : public QMainWindow {
public:
    explicit TForm1(FormSeams seams = {});
    ~TForm1() override;

    // Components, in the order of the layout.
    Panel* pnlColumnHeading = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* mnuExit = nullptr;
    PortSelector* cmbOutput = nullptr;
    Panel* Panel1 = nullptr;
    MessageList* SysEx = nullptr;
    QLabel* Label3 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* About1 = nullptr;
    QAction* SysexI1 = nullptr;
    QAction* N1 = nullptr;
    QPlainTextEdit* SysInfo = nullptr;
    QLabel* Label4 = nullptr;
    std::unique_ptr<FileDialog> OpenDialog1;
    QCheckBox* EXC_SW = nullptr;
    std::unique_ptr<FileDialog> SaveDialog1;
    QAction* SMF1 = nullptr;
    Bevel* Bevel1 = nullptr;
    Bevel* Bevel2 = nullptr;
    Bevel* Bevel3 = nullptr;
    Bevel* Bevel4 = nullptr;
    // Receiving and saving as a dump file.
    QAction* ReceiveDump = nullptr;
    QAction* ExportRawDump = nullptr;
    std::unique_ptr<FileDialog> SaveRawDumpDialog;
    // Checking the stored messages' checksums.
    QAction* CheckChecksums = nullptr;
    // Sending the loaded messages back to a device.
    QAction* SendDump = nullptr;
    // Editing the stored messages: the Edit menu, whose actions the list's context menu shares.
    QMenu* Edit1 = nullptr;
    EditActions* Edits = nullptr;

    // Handlers and operations.
    void FormCreate();
    void mnuExitClick();
    void About1Click();
    void ExcOut(const std::uint8_t* bytes, int lastIndex);
    void cmbOutputChange();
    void SysExClick();
    void INIT(std::uint8_t mode);
    void SysexI1Click();
    void SMF1Click();
    void EXPORT_SMF();
    void MIDI_Reg(std::uint8_t mode);
    void ReceiveDumpClick();
    void SendDumpClick();
    void ExportRawDumpClick();
    void EXPORT_RAW_DUMP();
    void CheckChecksumsClick();

    // Opens a dump named outside the open dialog (command line, drop) exactly as the dialog's
    // choice would be opened; the dialog offers that path next. Every load takes the one way of
    // ui/LoadProgress.h: a load stopped by the user or failed leaves the earlier dump as it was.
    void OpenDumpFile(const std::string& pathUtf8);

    // Lists the output ports afresh into the selector, keeping the chosen one by name, and
    // returns the entries. A chosen port that has gone is closed and "MIDI OUT" unticked; it is
    // told in a notice when `tell` (otherwise the caller tells it where the user looks) and then
    // returned in `gone`.
    std::vector<std::string> RefreshOutputEntries(bool tell = true, std::string* gone = nullptr);

    // Whether messages that came in by reception are in the store and were not saved since.
    bool CaptureUnsaved() const { return captureUnsaved_; }
    // Whether the store was edited since it was loaded, received or saved.
    bool EditsUnsaved() const;

    // The layout scale this window was built with (1 at 96 dpi).
    double LayoutScaleFactor() const { return scale_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void LoadIntoList(const std::string& pathUtf8);
    void CreateControls();
    void CreateMenu();
    void CreateDialogs();
    void CreateEditing();
    void WireHandlers();
    void FixSize();
    // Fills the list from the store after a load or a reception, and tells what was left out.
    void ShowStoredMessages(const std::string& droppedNotice);
    // The list shows the store's messages as they are now.
    void ListStore();
    // The pane for message k as a selection shows it, without sending it; -1 empties it.
    void ShowInfo(int k);
    // Before the store is given up (exit, another file, another reception): true when there is
    // no unsaved capture or edit, or the user saved it or chose to discard it; false to stay.
    bool CaptureMayGo();

    FormSeams seams_;
    double scale_ = 1.0;
    QWidget* client_ = nullptr;
    bool captureUnsaved_ = false;
    bool leaving_ = false;  // the exit command has been given and answered
};

// The main window of the running program.
extern TForm1* Form1;

}  // namespace ui
