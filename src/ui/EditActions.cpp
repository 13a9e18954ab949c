#include "ui/EditActions.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <algorithm>
#include <memory>

#include "common/Failure.h"
#include "sysex/HexText.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"
#include "ui/FileDialog.h"
#include "ui/HexEditDialog.h"
#include "ui/MessageList.h"
#include "ui/Notice.h"
#include "ui/OpenRequest.h"

namespace ui {

EditActions::EditActions(EditSetup setup) : QObject(setup.window), setup_(std::move(setup)) {
    CreateActions();
    QItemSelectionModel* selection = setup_.list->selectionModel();
    connect(selection, &QItemSelectionModel::selectionChanged, this, [this] { UpdateActions(); });
    connect(selection, &QItemSelectionModel::currentChanged, this, [this] { UpdateActions(); });
    connect(setup_.list->model(), &QAbstractItemModel::modelReset, this, [this] { UpdateActions(); });
    // After the drop is over: the list is filled anew, which a drag under way should not see.
    connect(setup_.list, &MessageList::movedBefore, this, Guarded([this](int before) { MoveBefore(before); }),
            Qt::QueuedConnection);
    connect(setup_.list, &QAbstractItemView::doubleClicked, this, Guarded([this](const QModelIndex&) { EditHexClick(); }));
    UpdateActions();
}

void EditActions::CreateActions() {
    auto make = [this](const char* text, QList<QKeySequence> keys, void (EditActions::*handler)()) {
        auto* action = new QAction(QString::fromUtf8(text), setup_.window);
        action->setShortcuts(keys);
        // Wherever the focus is in the window; the information pane, which edits text, takes
        // the keys it knows itself (copy, select all, undo) first.
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, Guarded([this, handler](bool) { (this->*handler)(); }));
        return action;
    };
    Undo = make("元に戻す(&U)", {QKeySequence(Qt::CTRL | Qt::Key_Z)}, &EditActions::UndoClick);
    Redo = make("やり直し(&R)", {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
                &EditActions::RedoClick);
    Delete = make("削除(&D)", {QKeySequence(Qt::Key_Delete)}, &EditActions::DeleteClick);
    MoveUp = make("上へ", {QKeySequence(Qt::CTRL | Qt::Key_Up)}, &EditActions::MoveUpClick);
    MoveDown = make("下へ", {QKeySequence(Qt::CTRL | Qt::Key_Down)}, &EditActions::MoveDownClick);
    Copy = make("コピー(&C)", {QKeySequence(Qt::CTRL | Qt::Key_C)}, &EditActions::CopyClick);
    Paste = make("貼り付け(&P)", {QKeySequence(Qt::CTRL | Qt::Key_V)}, &EditActions::PasteClick);
    SelectAll = make("すべて選択(&A)", {QKeySequence(Qt::CTRL | Qt::Key_A)}, &EditActions::SelectAllClick);
    InsertFile = make("ファイルを挿入(&I)...", {}, &EditActions::InsertFileClick);
    EditHex = make("16 進で編集(&E)...", {QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)},
                   &EditActions::EditHexClick);
    // Keys that mean something else elsewhere (Delete and Enter in the port selector, the arrows)
    // edit only while the list has the focus.
    for (QAction* action : {Delete, MoveUp, MoveDown, EditHex}) action->setShortcutContext(Qt::WidgetShortcut);
}

void EditActions::Fill(QMenu* menu) {
    const QList<QList<QAction*>> groups{{Undo, Redo}, {Delete, MoveUp, MoveDown}, {Copy, Paste, SelectAll},
                                        {InsertFile, EditHex}};
    for (qsizetype g = 0; g < groups.size(); ++g) {
        if (g > 0) {
            menu->addSeparator();
            auto* separator = new QAction(setup_.list);
            separator->setSeparator(true);
            setup_.list->addAction(separator);
        }
        menu->addActions(groups[g]);
        setup_.list->addActions(groups[g]);
    }
    setup_.list->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void EditActions::UpdateActions() {
    MessageList* list = setup_.list;
    const bool selected = list->selectionModel()->hasSelection();
    Undo->setEnabled(history_.CanUndo());
    Redo->setEnabled(history_.CanRedo());
    for (QAction* action : {Delete, MoveUp, MoveDown, Copy}) action->setEnabled(selected);
    SelectAll->setEnabled(list->count() > 0);
    EditHex->setEnabled(list->currentRow() >= 0);
}

void EditActions::Forget() {
    history_.Clear();
    UpdateActions();
}

void EditActions::Show(const sysex::MessageNumbers& rows, int current) {
    setup_.list->SelectRows(rows, current);
    setup_.showInfo(current);
    UpdateActions();
}

void EditActions::Edited(const std::function<sysex::StoreEdit(sysex::StoreEditor&)>& edit,
                         const std::function<void()>& select) {
    history_.Do(edit);
    setup_.relist();
    select();
}

void EditActions::SelectAllClick() { setup_.list->selectAll(); }

void EditActions::SelectAfter(const sysex::StoreEdit& applied) {
    const std::int32_t count = sysex::MessageCount();
    switch (applied.kind) {
        case sysex::StoreEdit::Kind::Insert: Show(applied.at, applied.at.back()); break;
        case sysex::StoreEdit::Kind::Move: Show(applied.to, applied.to.front()); break;
        case sysex::StoreEdit::Kind::Replace: Show(applied.at, applied.at.front()); break;
        case sysex::StoreEdit::Kind::Remove: {
            const std::int32_t current = std::min(applied.at.front(), count - 1);
            Show(current >= 0 ? sysex::MessageNumbers{current} : sysex::MessageNumbers{}, current);
            break;
        }
    }
}

void EditActions::UndoClick() {
    sysex::StoreEdit applied;
    if (!history_.Undo(&applied)) return;
    setup_.relist();
    SelectAfter(applied);
}

void EditActions::RedoClick() {
    sysex::StoreEdit applied;
    if (!history_.Redo(&applied)) return;
    setup_.relist();
    SelectAfter(applied);
}

void EditActions::DeleteClick() {
    const sysex::MessageNumbers rows = setup_.list->SelectedRows();
    if (rows.empty()) return;
    Edited([&](sysex::StoreEditor& e) { return e.Remove(rows); },
           [&] {
               const std::int32_t current = std::min(rows.front(), sysex::MessageCount() - 1);
               Show(current >= 0 ? sysex::MessageNumbers{current} : sysex::MessageNumbers{}, current);
           });
}

namespace {

// Where the current message stands after a move, when it was among those moved.
int MovedCurrent(const sysex::MessageNumbers& from, const sysex::MessageNumbers& to, int current) {
    const auto at = std::find(from.begin(), from.end(), current);
    return at == from.end() ? to.front() : to[static_cast<std::size_t>(at - from.begin())];
}

}  // namespace

void EditActions::MoveBefore(int before) {
    const sysex::MessageNumbers rows = setup_.list->SelectedRows();
    if (rows.empty()) return;
    const sysex::MessageNumbers to = sysex::DroppedBefore(rows, before);
    if (to == rows) return;
    const int current = MovedCurrent(rows, to, setup_.list->currentRow());
    Edited([&](sysex::StoreEditor& e) { return e.Move(rows, to); }, [&] { Show(to, current); });
}

void EditActions::MoveUpClick() {
    const sysex::MessageNumbers rows = setup_.list->SelectedRows();
    if (rows.empty()) return;
    const sysex::MessageNumbers to = sysex::OnePlaceUp(rows);
    if (to == rows) return;
    const int current = MovedCurrent(rows, to, setup_.list->currentRow());
    Edited([&](sysex::StoreEditor& e) { return e.Move(rows, to); }, [&] { Show(to, current); });
}

void EditActions::MoveDownClick() {
    const sysex::MessageNumbers rows = setup_.list->SelectedRows();
    if (rows.empty()) return;
    const sysex::MessageNumbers to = sysex::OnePlaceDown(rows, sysex::MessageCount());
    if (to == rows) return;
    const int current = MovedCurrent(rows, to, setup_.list->currentRow());
    Edited([&](sysex::StoreEditor& e) { return e.Move(rows, to); }, [&] { Show(to, current); });
}

void EditActions::CopyClick() {
    const sysex::MessageNumbers rows = setup_.list->SelectedRows();
    if (rows.empty()) return;
    QGuiApplication::clipboard()->setText(QString::fromStdString(sysex::HexLines(sysex::StoreMessages(), rows)));
}

std::int32_t EditActions::InsertionPoint() const {
    const int current = setup_.list->currentRow();
    return current >= 0 && current < sysex::MessageCount() ? current + 1 : sysex::MessageCount();
}

void EditActions::InsertMessages(const sysex::MessageList& messages) {
    if (messages.count == 0) return;
    const std::int32_t at = InsertionPoint();
    sysex::MessageNumbers rows(static_cast<std::size_t>(messages.count));
    for (std::int32_t j = 0; j < messages.count; ++j) rows[static_cast<std::size_t>(j)] = at + j;
    Edited([&](sysex::StoreEditor& e) { return e.InsertAt(at, messages); },
           [&] { Show(rows, rows.back()); });
}

void EditActions::PasteClick() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data) {
        // A dump file copied in a file manager comes as its URL.
        if (const std::optional<std::string> file = DroppedFile(*data)) return InsertFileMessages(*file);
    }
    const std::string text = data && data->hasText() ? data->text().toStdString() : std::string();
    const sysex::PastedMessages pasted = sysex::PastedMessagesFromText(text);
    if (!pasted.problem.empty()) return ShowNotice(pasted.problem);
    InsertMessages(pasted.messages.List());
    if (const std::string notice = sysex::PastedNotice(pasted); !notice.empty()) ShowNotice(notice);
}

void EditActions::InsertFileClick() {
    if (!setup_.openDialog->Execute()) return;
    InsertFileMessages(setup_.openDialog->FileName());
}

void EditActions::InsertFileMessages(const std::string& pathUtf8) {
    // Loaded beside the store: a file that cannot be read changes nothing.
    const auto own = std::make_unique_for_overwrite<sysex::OwnStore>();
    const sysex::ScanResult result = sysex::LoadDumpFileInto(pathUtf8, *own);
    const std::string dropped = sysex::DroppedNotice(result);
    if (own->count == 0) {
        const std::string none = kelvane::FormatText("ファイル %s には挿入するメッセージがありません", pathUtf8);
        return ShowNotice(dropped.empty() ? none : none + "\n" + dropped);
    }
    InsertMessages(own->Messages());
    if (!dropped.empty()) ShowNotice(dropped);
}

void EditActions::EditHexClick() {
    const int k = setup_.list->currentRow();
    if (k < 0 || k >= sysex::MessageCount()) return;
    const sysex::MessageBytes message = sysex::MessageAt(k);
    if (message.size() > THexEdit::MaxBytes) {
        return ShowNotice("メッセージ " + std::to_string(k + 1) + " は " + std::to_string(THexEdit::MaxBytes) +
                          " バイトを超えるため、16 進では編集できません");
    }
    THexEdit dialog(setup_.window, setup_.scale, k + 1, message);
    if (dialog.exec() != QDialog::Accepted) return;
    const std::vector<std::uint8_t> bytes = dialog.Bytes();
    const sysex::MessageBytes before = sysex::MessageAt(k);
    if (std::equal(bytes.begin(), bytes.end(), before.begin(), before.end())) return;
    Edited([&](sysex::StoreEditor& e) { return e.Replace(k, bytes); },
           [&] { Show({k}, k); });
}

}  // namespace ui
