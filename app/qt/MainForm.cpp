// SPDX-License-Identifier: MIT
#include "MainForm.h"

#include "Actions.h"
#include "Application.h"
#include "Journal.h"
#include "MemoText.h"
#include "Text.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

TMainForm* MainForm = nullptr;

namespace {

QFont pixelFont(const char* family, int pixelHeight) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixelHeight);
    return font;
}

// The tool-bar image under the mouse is a lighter version of the normal one.
QIcon toolIcon(const char* resource) {
    const QString path = QStringLiteral(":/icons/%1.svg").arg(QLatin1String(resource));
    QIcon icon(path);
    QImage hot = QIcon(path).pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < hot.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(hot.scanLine(y));
        for (int x = 0; x < hot.width(); ++x) {
            const QRgb p = line[x];
            auto lift = [](int c) { return c + (255 - c) * 2 / 5; };
            line[x] = qRgba(lift(qRed(p)), lift(qGreen(p)), lift(qBlue(p)), qAlpha(p));
        }
    }
    icon.addPixmap(QPixmap::fromImage(hot), QIcon::Active);
    return icon;
}

} // namespace

TMainForm::TMainForm() {
    CreateComponents();
    behaviour = std::make_unique<TMainFormBehaviour>(static_cast<TMainFormView&>(*this), JournalFolder());
    behaviour->Start();
    // (Qt draws every widget double-buffered, the status bar included.)
    ActionList1->UpdateAll();
}

TMainForm::~TMainForm() {
    // The threads end before anything they call into goes.
    behaviour.reset();
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::BringToFront() {
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    Application->Terminate();
    event->accept();
}

// ---- Layout ----

void TMainForm::CreateComponents() {
    // "MS Sans Serif" is a Windows font. Without a rule, fontconfig falls back to DejaVu
    // Sans, which is so much wider that the status panels' texts no longer fit their fixed
    // widths; Liberation Sans (Arial's metrics, a dependency of the program) comes close.
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Tavro"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tavro.svg")));
    setFont(pixelFont("MS Sans Serif", 11));
    menuBar()->setFont(QFont()); // menus use the system's menu font, as on every desktop

    CreateActions();
    CreateMenus();
    CreateToolBar();

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->document()->setUndoRedoEnabled(false); // nothing is ever undone in a read-only view
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setWordWrapMode(QTextOption::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFont(pixelFont("Arial", 15));
    // Read-only, but the caret and keyboard scrolling stay, as in any text viewer.
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setCentralWidget(Memo1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(20);
    for (std::size_t i = 0; i < statusPanels.size(); ++i) {
        statusPanels[i] = new QLabel(StatusBar1);
        statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        statusPanels[i]->setFrameShape(QFrame::Panel);
        statusPanels[i]->setFrameShadow(QFrame::Sunken);
    }
    statusPanels[0]->setFixedWidth(320);
    StatusBar1->addWidget(statusPanels[0]);
    StatusBar1->addWidget(statusPanels[1], 1);
    setStatusBar(StatusBar1);

    // The window is described by its outer size (577 x 550) and client area (569 x 496 below
    // the menu); Qt sizes the window without its frame but with the menu bar.
    constexpr int clientWidth = 569, clientHeight = 496;
    constexpr int frameWidth = 577 - clientWidth, frameHeight = 550 - clientHeight;
    const int menuHeight = menuBar()->sizeHint().height();
    resize(clientWidth, clientHeight + menuHeight);
    setMinimumSize(300 - frameWidth, 300 - frameHeight + menuHeight);
    move(229, 106);

    OpenDialog1.Filter = "*.txt|*.txt|All files|*.*";
    // Where a lost session is found again: the journal is one of the dialog's places.
    OpenDialog1.Places = {JournalFolder()};
    SaveDialog1.Filter = OpenDialog1.Filter;
    SaveDialog1.DefaultExt = "txt";
}

void TMainForm::CreateActions() {
    ActionList1 = new TActionList(this);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));
    auto add = [this](const char* name, void (TMainForm::*execute)(), void (TMainForm::*update)(TAction&)) {
        TAction* action = ActionList1->Add(QString::fromLatin1(name));
        if (execute)
            action->OnExecute = [this, execute] { (this->*execute)(); };
        if (update)
            action->OnUpdate = [this, update](TAction& a) { (this->*update)(a); };
        addAction(action); // shortcuts work wherever the focus is in the window
        return action;
    };
    // Connection (the hidden "&COM" menu).
    actConnect = add("actConnect", &TMainForm::actConnectExecute, &TMainForm::actConnectUpdate);
    actDisconnect = add("actDisconnect", &TMainForm::actDisconnectExecute, &TMainForm::actDisconnectUpdate);
    actSetting = add("actSetting", &TMainForm::actSettingExecute, nullptr);
    actReadCom = add("actReadCom", &TMainForm::actReadComExecute, nullptr);
    // Document ("&File" menu and tool bar).
    actFileOpen = add("actFileOpen", &TMainForm::actFileOpenExecute, nullptr);
    actFileSave = add("actFileSave", &TMainForm::actFileSaveExecute, nullptr);
    actFileSaveAs = add("actFileSaveAs", &TMainForm::actFileSaveAsExecute, nullptr);
    actFileSaveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    actPrint = add("actPrint", &TMainForm::actPrintExecute, nullptr);
    actPrint->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    actSetFont = add("actSetFont", &TMainForm::actSetFontExecute, nullptr);
    actClear = add("actClear", &TMainForm::actClearExecute, &TMainForm::actClearUpdate);
    // Status line.
    actStatusBar1 = add("actStatusBar1", nullptr, &TMainForm::actStatusBar1Update);
    for (TAction* action : {actFileSaveAs, actPrint})
        action->setShortcutContext(Qt::WindowShortcut);
}

void TMainForm::CreateMenus() {
    // A menu item carries its own caption and invokes its action; it follows the action's
    // enabled state.
    auto item = [](QMenu* menu, const char* name, const char* caption, TAction* action,
                   const char* shortcut = nullptr) {
        QString text = QString::fromLatin1(caption);
        if (shortcut)
            text += QLatin1Char('\t') + QLatin1String(shortcut);
        QAction* entry = menu->addAction(text);
        entry->setObjectName(QString::fromLatin1(name));
        if (action) {
            QObject::connect(entry, &QAction::triggered, action, [action] { action->trigger(); });
            QObject::connect(action, &QAction::changed, entry,
                             [entry, action] { entry->setEnabled(action->isEnabled()); });
        }
        return entry;
    };
    auto menu = [this](const char* name, const char* caption, bool visible) {
        QMenu* m = menuBar()->addMenu(QString::fromLatin1(caption));
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setVisible(visible);
        return m;
    };

    QMenu* File1 = menu("File1", "&File", true);
    item(File1, "Open1", "&Open file", actFileOpen);
    item(File1, "Save1", "&Save as", actFileSaveAs, "Ctrl+S");
    item(File1, "Saveas1", "&Print", actPrint, "Ctrl+P");
    File1->addSeparator()->setObjectName(QStringLiteral("N1"));
    QAction* Exit1 = item(File1, "Exit1", "&Exit", nullptr);
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });

    QMenu* COM1 = menu("COM1", "&COM", false);
    item(COM1, "Connect1", "&Connect", actConnect);
    item(COM1, "Disconnect1", "&Disconnect", actDisconnect);
    item(COM1, "Setting1", "&Setting", actSetting);

    QMenu* Language1 = menu("Language1", "&Language", false);
    item(Language1, "English1", "&English", nullptr);
    item(Language1, "SimplifyChinese1", "&Simplified Chinese", nullptr);

    QMenu* Help1 = menu("Help1", "&Help", false);
    item(Help1, "This1", "&Contents", nullptr);
    item(Help1, "About1", "&About", nullptr);
}

void TMainForm::CreateToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(41);
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { border-top: 1px solid palette(mid);"
                                           " border-bottom: 1px solid palette(light); spacing: 0px; }"));
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    auto button = [this](const char* name, QAction* action, const char* icon, const char* hint) {
        action->setIcon(toolIcon(icon));
        action->setToolTip(QString::fromLatin1(hint));
        ToolBar1->addAction(action);
        QWidget* widget = ToolBar1->widgetForAction(action);
        widget->setObjectName(QString::fromLatin1(name));
        widget->setFixedSize(39, 38);
    };
    button("ToolButton1", actFileOpen, "open", "Open file");
    button("ToolButton2", actFileSaveAs, "save", "Save as");
    button("ToolButton3", actPrint, "print", "Print");
    button("ToolButton5", actSetFont, "font", "Select font");
    // The help button is part of the tool bar but hidden, and invokes nothing.
    auto* helpButton = new QAction(QStringLiteral("Help"), this);
    button("ToolButton6", helpButton, "help", "Help");
    helpButton->setVisible(false);

    auto* ToolButton7 = new QWidget(ToolBar1);
    ToolButton7->setObjectName(QStringLiteral("ToolButton7"));
    ToolButton7->setFixedSize(63, 38);
    ToolBar1->addWidget(ToolButton7);

    button("ToolButton4", actClear, "clear", "Clear");

    Label1 = new QLabel(ToolBar1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(pixelFont("MS Sans Serif", 20));
    Label1->setFixedHeight(38);
    Label1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    ToolBar1->addWidget(Label1);
}

// ---- The view the behaviour draws on ----

void TMainForm::AppendLines(const std::vector<std::string>& lines) {
    QStringList viewLines;
    viewLines.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        viewLines.append(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    Memo1->setUpdatesEnabled(false);
    AppendMemoLines(*Memo1, viewLines);
    QTextCursor caret = Memo1->textCursor();
    caret.movePosition(QTextCursor::End);
    Memo1->setTextCursor(caret);
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
    Memo1->horizontalScrollBar()->setValue(0);
    Memo1->setUpdatesEnabled(true);
}

void TMainForm::ClearText() {
    Memo1->clear();
}

int TMainForm::LineCount() const {
    return MemoLineCount(*Memo1);
}

void TMainForm::SetCounterText(const std::string& text) {
    Label1->setText(QString::fromLatin1(text.c_str()));
    Label1->adjustSize();
}

TViewAnswer TMainForm::ShowMessage(const TViewMessage& message) {
    const auto result = [](TViewAnswer answer) {
        switch (answer) {
        case TViewAnswer::ok:
            return mrOk;
        case TViewAnswer::cancel:
            return mrCancel;
        case TViewAnswer::retry:
            return mrRetry;
        }
        return mrNone;
    };
    const TMsgButtons buttons = message.buttons == TViewButtons::okCancel      ? mbOKCancel
                                : message.buttons == TViewButtons::retryCancel ? mbRetryCancel
                                                                               : mbOK;
    const TMsgIcon icon = message.icon == TViewIcon::warning ? miWarning : miQuestion;
    const int answer = MessageBox(this, message.text, message.caption.empty() ? Application->Title : message.caption,
                                  buttons, icon, result(message.defaultAnswer), message.detail);
    for (const TViewAnswer candidate : {TViewAnswer::ok, TViewAnswer::retry})
        if (answer == result(candidate))
            return candidate;
    return TViewAnswer::cancel;
}

void TMainForm::PostToWindow(std::function<void()> call) {
    // Qt drops the call if the window is destroyed before it runs.
    QMetaObject::invokeMethod(
        this,
        [this, call = std::move(call)] {
            if (!behaviour)
                return;
            CallGuarded(call);
            // What it changed may show in the commands' states or the status line.
            ActionList1->RequestUpdate();
        },
        Qt::QueuedConnection);
}

void TMainForm::Terminate() {
    Application->Terminate();
}

bool TMainForm::Terminating() const {
    return Application->Terminated();
}
