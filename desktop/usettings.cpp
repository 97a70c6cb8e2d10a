#include "desktop/usettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <string>

#include "desktop/askuser.h"
#include "desktop/sharedcontrols.h"
#include "engine/inifile.h"
#include "engine/uluagrabbers.h"
#include "util/shwmsg.h"

namespace {

const char* const kTimeZones[] = {
    "-12:00", "-11:00", "-10:00", "-09:00", "-08:00", "-07:00", "-06:00", "-05:00", "-04:00",
    "-03:30", "-03:00", "-02:00", "-01:00", "+00:00", "GMT/BST", "+01:00", "CET/CEST", "+02:00",
    "EET/EEST", "+03:00", "+03:30", "+04:00", "+04:30", "+05:00", "+05:30", "+05:45", "+06:00",
    "+06:30", "+07:00", "+08:00", "+09:00", "+09:30", "+10:00", "+11:00", "+12:00", "+13:00",
};

constexpr int kRecordRole = Qt::UserRole;   // a row's script record, borrowed from the engine

QLabel* Caption(const char* text, QWidget* parent) { return new QLabel(QLatin1String(text), parent); }

QTreeWidget* ScriptList(QWidget* parent, const char* name, const QStringList& columns) {
    auto* view = Named(new QTreeWidget(parent), name);
    view->setColumnCount(static_cast<int>(columns.size()));
    view->setHeaderLabels(columns);
    view->setRootIsDecorated(false);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAllColumnsShowFocus(true);
    // The selection stays visible when the list has no focus.
    QPalette p = view->palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    view->setPalette(p);
    return view;
}

QPushButton* Button(const char* caption, const char* name, QWidget* parent) {
    return Named(new QPushButton(QLatin1String(caption), parent), name);
}

// A decimal whole number, or nothing: the field keeps what was typed and the setting its value.
void StoreNumber(const QString& text, int32_t& setting) {
    int32_t value = 0;
    if (ParseDecimalInt32(text.toStdString(), value)) setting = value;
}

QString Q(const std::string& text) { return DisplayText(text); }

}  // namespace

QStringList NameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

TFSettings::TFSettings(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlags(kFixedDialogFlags);

    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    auto* global = Named(new QWidget, "TSGlobal");
    PageControl2 = Named(new QTabWidget(global), "PageControl2");
    auto* xml = Named(new QWidget, "TSXML");
    auto* logging = Named(new QWidget, "TSLogging");
    auto* connection = Named(new QWidget, "TSConnection");
    BuildXMLPage(xml);
    BuildLoggingPage(logging);
    BuildConnectionPage(connection);
    PageControl2->addTab(xml, QStringLiteral("XML"));
    PageControl2->addTab(logging, QStringLiteral("Logging"));
    PageControl2->addTab(connection, QStringLiteral("Conection Options"));
    auto* globalLayout = new QVBoxLayout(global);
    globalLayout->addWidget(PageControl2);

    auto* grabbers = Named(new QWidget, "TSGrabbers");
    auto* procs = Named(new QWidget, "TSProcs");
    BuildGrabbersPage(grabbers);
    BuildProcsPage(procs);
    PageControl1->addTab(global, QStringLiteral("Global Settings"));
    PageControl1->addTab(grabbers, QStringLiteral("Grabbers"));
    PageControl1->addTab(procs, QStringLiteral("Postprocessors"));

    // Nothing is selected yet: the buttons of a selected script wait for one.
    for (QPushButton* b : {BGSettings, BGChannels, BPSettings}) b->setEnabled(false);

    auto* ok = Button("OK", "BOK", this);
    ok->setDefault(true);
    ok->setMinimumSize(75, 25);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 13);
    layout->addWidget(PageControl1);
    layout->addWidget(ok, 0, Qt::AlignHCenter);

    ConnectWriteThrough();
    // A client area of 429 × 486, or what the platform's fonts need.
    const QSize hint = sizeHint();
    setFixedSize(std::max(429, hint.width()), std::max(486, hint.height()));
}

void TFSettings::BuildXMLPage(QWidget* page) {
    CBTimeZone = Named(new QComboBox(page), "CBTimeZone");
    for (const char* zone : kTimeZones) CBTimeZone->addItem(QLatin1String(zone));
    CBCharSet = Named(new QComboBox(page), "CBCharSet");
    CBCharSet->addItems({QStringLiteral("ISO-8859-1"), QStringLiteral("Windows 1252"), QStringLiteral("UTF-8")});
    EOutFile = Named(new QLineEdit(page), "EOutFile");
    auto* browse = Button("Browse", "BOutBrowse", page);
    connect(browse, &QPushButton::clicked, this, [this] { BOutBrowseClick(); });
    CBSort = Named(new QCheckBox(QStringLiteral("Sort Programs"), page), "CBSort");

    auto* group = Named(new QGroupBox(QStringLiteral("Sort Options"), page), "GBSort");
    LBSort = Named(new QListWidget(group), "LBSort");
    LBSort->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* up = Button("^", "Button2", group);
    auto* down = Button("v", "Button3", group);
    connect(up, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(down, &QPushButton::clicked, this, [this] { Button3Click(); });
    CBSortRev = Named(new QCheckBox(QStringLiteral("Reverse Order"), group), "CBSortRev");
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addStretch();
    auto* order = new QHBoxLayout;
    order->addWidget(LBSort, 1);
    order->addLayout(buttons);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(Caption("Order:", group));
    groupLayout->addLayout(order);
    groupLayout->addWidget(CBSortRev);

    auto* outFile = new QHBoxLayout;
    outFile->addWidget(EOutFile, 1);
    outFile->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(Caption("Timezone:", page), CBTimeZone);
    form->addRow(Caption("Character Set:", page), CBCharSet);
    form->addRow(Caption("Save Listings To:", page), outFile);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addWidget(CBSort);
    layout->addWidget(group, 1);
}

void TFSettings::BuildLoggingPage(QWidget* page) {
    CBSaveLog = Named(new QCheckBox(QStringLiteral("Save Log"), page), "CBSaveLog");
    ESaveLog = Named(new QLineEdit(page), "ESaveLog");
    auto* browse = Button("Browse", "Button4", page);
    connect(browse, &QPushButton::clicked, this, [this] { Button4Click(); });
    CBEMailLog = Named(new QCheckBox(QStringLiteral("EMail Log"), page), "CBEMailLog");
    CBAttachXML = Named(new QCheckBox(QStringLiteral("Attach XML"), page), "CBAttachXML");
    ESMTP = Named(new QLineEdit(page), "ESMTP");
    EEmailAddr = Named(new QLineEdit(page), "EEmailAddr");

    auto* logFile = new QHBoxLayout;
    logFile->addWidget(ESaveLog, 1);
    logFile->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(CBSaveLog);
    form->addRow(Caption("Save Log To:", page), logFile);
    form->addRow(CBEMailLog);
    form->addRow(CBAttachXML);
    form->addRow(Caption("SMTP Server:", page), ESMTP);
    form->addRow(Caption("EMail Address:", page), EEmailAddr);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addStretch();
}

void TFSettings::BuildConnectionPage(QWidget* page) {
    ERetries = Named(new QLineEdit(page), "ERetries");
    ERDelay = Named(new QLineEdit(page), "ERDelay");
    EConTOut = Named(new QLineEdit(page), "EConTOut");
    EReadTOut = Named(new QLineEdit(page), "EReadTOut");
    auto* group = Named(new QGroupBox(QStringLiteral("Proxy Settings"), page), "GBProxy");
    EProxy = Named(new QLineEdit(group), "EProxy");
    EPort = Named(new QLineEdit(group), "EPort");
    EUsername = Named(new QLineEdit(group), "EUsername");
    EPassword = Named(new QLineEdit(group), "EPassword");
    ShowStars(EPassword);

    auto* form = new QFormLayout;
    form->addRow(Caption("Max. Retries:", page), ERetries);
    form->addRow(Caption("Delay Between Retries (ms):", page), ERDelay);
    form->addRow(Caption("Connect Timeout (ms):", page), EConTOut);
    form->addRow(Caption("Read Timeout (ms):", page), EReadTOut);
    auto* proxy = new QFormLayout(group);
    proxy->addRow(Caption("Server:", group), EProxy);
    proxy->addRow(Caption("Port:", group), EPort);
    proxy->addRow(Caption("Username:", group), EUsername);
    proxy->addRow(Caption("Password:", group), EPassword);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addWidget(group);
    layout->addStretch();
}

void TFSettings::BuildGrabbersPage(QWidget* page) {
    LVGrabbers = ScriptList(page, "LVGrabbers", {QStringLiteral("Grabber"), QStringLiteral("Name"), QStringLiteral("Version")});
    auto* group = Named(new QGroupBox(QStringLiteral("Grabber Details"), page), "GBGrabber");
    LAuthor = Named(new QLabel(group), "LAuthor");
    LAuthor->setTextFormat(Qt::PlainText);
    LGrabInfo = Named(new TURLLabel(group), "LGrabInfo");
    LDatSource = Named(new TURLLabel(group), "LDatSource");
    auto* up = Button("Move Up", "BMoveGUp", group);
    auto* down = Button("Move Down", "BMoveGDown", group);
    BGSettings = Button("Settings", "BGSettings", group);
    BGChannels = Button("Channels", "BGChannels", group);
    connect(up, &QPushButton::clicked, this, [this] { BMoveGUpClick(); });
    connect(down, &QPushButton::clicked, this, [this] { BMoveGDownClick(); });
    connect(BGSettings, &QPushButton::clicked, this, [this] {
        if (TLuaBase* script = SelectedScript(LVGrabbers); script && OnScriptSettings) OnScriptSettings(*script);
    });
    connect(BGChannels, &QPushButton::clicked, this, [this] {
        if (auto* grabber = static_cast<TLuaGrabber*>(SelectedScript(LVGrabbers)); grabber && OnChannels)
            OnChannels(*grabber);
    });

    auto* details = new QFormLayout;
    details->addRow(Caption("Written By:", group), LAuthor);
    details->addRow(Caption("Grabber Info:", group), LGrabInfo);
    details->addRow(Caption("Data Source:", group), LDatSource);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {up, down, BGSettings, BGChannels}) buttons->addWidget(b);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(details);
    groupLayout->addLayout(buttons);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(LVGrabbers, 1);
    layout->addWidget(group);
}

void TFSettings::BuildProcsPage(QWidget* page) {
    LVProcs = ScriptList(page, "LVProcs", {QStringLiteral("Processor"), QStringLiteral("Name"), QStringLiteral("Version"),
                                           QStringLiteral("Grabbers")});
    auto* group = Named(new QGroupBox(QStringLiteral("Processor Details"), page), "GBProcessor");
    LPAuthor = Named(new QLabel(group), "LPAuthor");
    LPAuthor->setTextFormat(Qt::PlainText);
    LPInfo = Named(new TURLLabel(group), "LPInfo");
    auto* up = Button("Move Up", "BMovePUp", group);
    auto* down = Button("Move Down", "BMovePDown", group);
    BPSettings = Button("Settings", "BPSettings", group);
    connect(up, &QPushButton::clicked, this, [this] { BMovePUpClick(); });
    connect(down, &QPushButton::clicked, this, [this] { BMovePDownClick(); });
    connect(BPSettings, &QPushButton::clicked, this, [this] {
        if (TLuaBase* script = SelectedScript(LVProcs); script && OnScriptSettings) OnScriptSettings(*script);
    });

    auto* details = new QFormLayout;
    details->addRow(Caption("Written By:", group), LPAuthor);
    details->addRow(Caption("Processor Info:", group), LPInfo);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {up, down, BPSettings}) buttons->addWidget(b);
    buttons->addStretch();
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(details);
    groupLayout->addLayout(buttons);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(LVProcs, 1);
    layout->addWidget(group);
}

TLuaGrabbers* TFSettings::Engine() { return LuaGrabbers; }

void TFSettings::ConnectWriteThrough() {
    // Each handler writes to the engine that exists when it fires (a restart replaces it).
    const auto text = [this](QLineEdit* field, std::string TLuaGrabbers::*setting) {
        connect(field, &QLineEdit::textChanged, this, [setting](const QString& t) {
            if (TLuaGrabbers* e = Engine()) e->*setting = t.toStdString();
        });
    };
    const auto number = [this](QLineEdit* field, int32_t TLuaGrabbers::*setting) {
        connect(field, &QLineEdit::textChanged, this, [setting](const QString& t) {
            if (TLuaGrabbers* e = Engine()) StoreNumber(t, e->*setting);
        });
    };
    const auto check = [this](QCheckBox* box, bool TLuaGrabbers::*setting) {
        connect(box, &QCheckBox::toggled, this, [setting](bool on) {
            if (TLuaGrabbers* e = Engine()) e->*setting = on;
        });
    };
    text(EOutFile, &TLuaGrabbers::OutFile);
    text(ESaveLog, &TLuaGrabbers::LogFile);
    text(ESMTP, &TLuaGrabbers::EMailServer);
    text(EEmailAddr, &TLuaGrabbers::EMailAddress);
    text(EUsername, &TLuaGrabbers::ProxyUsername);
    text(EPassword, &TLuaGrabbers::ProxyPassword);
    text(EProxy, &TLuaGrabbers::Proxy);
    number(ERetries, &TLuaGrabbers::MaxRetries);
    number(ERDelay, &TLuaGrabbers::RetryDelay);
    number(EConTOut, &TLuaGrabbers::ConnectTimeout);
    number(EReadTOut, &TLuaGrabbers::ReadTimeout);
    number(EPort, &TLuaGrabbers::ProxyPort);
    check(CBSort, &TLuaGrabbers::DoXMLSort);
    check(CBSortRev, &TLuaGrabbers::SortRev);
    check(CBSaveLog, &TLuaGrabbers::SaveLog);
    check(CBEMailLog, &TLuaGrabbers::EMailLog);
    check(CBAttachXML, &TLuaGrabbers::AttachXML);

    connect(CBTimeZone, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (TLuaGrabbers* e = Engine(); e && index >= 0) e->TimeZoneName = CBTimeZone->itemText(index).toStdString();
    });
    connect(CBCharSet, &QComboBox::currentIndexChanged, this, [](int index) {
        if (TLuaGrabbers* e = Engine(); e && index >= 0) e->CharSet = static_cast<uint8_t>(index + 1);
    });
    // A row's check box is its script's Enabled.
    for (QTreeWidget* view : {LVGrabbers, LVProcs}) {
        connect(view, &QTreeWidget::itemChanged, this, [](QTreeWidgetItem* item, int column) {
            auto* script = static_cast<TLuaBase*>(item->data(0, kRecordRole).value<void*>());
            if (script && column == 0) script->Enabled = item->checkState(0) == Qt::Checked;
        });
    }
    connect(LVGrabbers, &QTreeWidget::itemSelectionChanged, this, [this] { LVGrabbersClick(); });
    connect(LVProcs, &QTreeWidget::itemSelectionChanged, this, [this] { LVProcsClick(); });
}

// ---- filling ----------------------------------------------------------------------------------

int TFSettings::ShowModal() {
    LoadFromEngine();
    return exec();
}

void TFSettings::LoadFromEngine() {
    TLuaGrabbers* engine = Engine();
    if (!engine) return;
    PageControl1->setCurrentIndex(0);
    PageControl2->setCurrentIndex(0);

    const auto fill = [](QTreeWidget* view, TLuaBaseList& scripts, bool procs) {
        const QSignalBlocker block(view);
        view->clear();
        for (TLuaBase& script : scripts) {
            auto* row = new QTreeWidgetItem;
            row->setText(0, Q(script.ID));
            row->setText(1, Q(script.Name));
            row->setText(2, Q(script.Version));
            if (procs) {
                const std::string& grabber = static_cast<TLuaPostProcessor&>(script).Grabber;
                row->setText(3, grabber.empty() ? QStringLiteral("All") : Q(grabber));
            }
            row->setData(0, kRecordRole, QVariant::fromValue(static_cast<void*>(&script)));
            row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            row->setCheckState(0, script.Enabled ? Qt::Checked : Qt::Unchecked);
            view->addTopLevelItem(row);
        }
    };
    fill(LVGrabbers, engine->Grabbers, false);
    fill(LVProcs, engine->PostProcessors, true);
    // IDs and names are shown whole; the other columns have their fixed widths.
    for (QTreeWidget* view : {LVGrabbers, LVProcs}) {
        for (int column : {0, 1}) {
            view->resizeColumnToContents(column);
            view->header()->resizeSection(column, std::max(view->header()->sectionSize(column) + 12, 90));
        }
    }
    LVGrabbers->header()->resizeSection(2, 60);
    LVProcs->header()->resizeSection(2, 65);
    LVProcs->header()->resizeSection(3, 65);

    {
        // Choosing the items here writes nothing back: the engine's own texts stay as they are.
        const QSignalBlocker blockZone(CBTimeZone), blockCharSet(CBCharSet);
        while (CBTimeZone->count() > static_cast<int>(std::size(kTimeZones)))
            CBTimeZone->removeItem(CBTimeZone->count() - 1);
        const QString zone = Q(engine->TimeZoneName);
        int index = CBTimeZone->findText(zone, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0) {
            CBTimeZone->addItem(zone);   // kept in force unless the user picks another
            index = CBTimeZone->count() - 1;
        }
        CBTimeZone->setCurrentIndex(index);
        CBCharSet->setCurrentIndex(engine->CharSet >= 1 && engine->CharSet <= 3 ? engine->CharSet - 1 : -1);
    }

    // The fields show the engine's values; their handlers stay quiet meanwhile, so that a text
    // that is not UTF-8 is not rewritten by merely being shown.
    const auto setText = [](QLineEdit* field, const QString& text) {
        const QSignalBlocker block(field);
        field->setText(text);
    };
    const auto setCheck = [](QCheckBox* box, bool on) {
        const QSignalBlocker block(box);
        box->setChecked(on);
    };
    setText(EOutFile, Q(engine->OutFile));
    setCheck(CBSortRev, engine->SortRev);
    setCheck(CBSaveLog, engine->SaveLog);
    setCheck(CBSort, engine->DoXMLSort);
    setText(ESaveLog, Q(engine->LogFile));
    setCheck(CBEMailLog, engine->EMailLog);
    setCheck(CBAttachXML, engine->AttachXML);
    setText(ESMTP, Q(engine->EMailServer));
    setText(EEmailAddr, Q(engine->EMailAddress));
    setText(ERetries, QString::number(engine->MaxRetries));
    setText(ERDelay, QString::number(engine->RetryDelay));
    setText(EConTOut, QString::number(engine->ConnectTimeout));
    setText(EReadTOut, QString::number(engine->ReadTimeout));
    setText(EProxy, Q(engine->Proxy));
    setText(EPort, QString::number(engine->ProxyPort));
    setText(EUsername, Q(engine->ProxyUsername));
    setText(EPassword, Q(engine->ProxyPassword));

    LVGrabbersClick();   // no row is selected after the lists were rebuilt
    FillSortKeys();
}

// ---- details ----------------------------------------------------------------------------------

TLuaBase* TFSettings::SelectedScript(QTreeWidget* view) const {
    const QList<QTreeWidgetItem*> selected = view->selectedItems();
    if (selected.isEmpty()) return nullptr;
    return static_cast<TLuaBase*>(selected.first()->data(0, kRecordRole).value<void*>());
}

void TFSettings::LVGrabbersClick() {
    auto* grabber = static_cast<TLuaGrabber*>(SelectedScript(LVGrabbers));
    if (!grabber) {
        BGSettings->setEnabled(false);
        BGChannels->setEnabled(false);
        for (QLabel* label : {LAuthor, LGrabInfo, LDatSource, LPAuthor, LPInfo}) label->clear();
        return;
    }
    BGChannels->setEnabled(!grabber->NoUserChannels && OnChannels);
    BGSettings->setEnabled(grabber->Settings->Count() > 0 && OnScriptSettings);
    LAuthor->setText(Q(grabber->Author));
    LGrabInfo->setText(Q(grabber->InfoURL));
    LDatSource->setText(Q(grabber->SourceURL));
}

void TFSettings::LVProcsClick() {
    TLuaBase* proc = SelectedScript(LVProcs);
    if (!proc) {
        BPSettings->setEnabled(false);
        LPAuthor->clear();
        LPInfo->clear();
        return;
    }
    BPSettings->setEnabled(proc->Settings->Count() > 0 && OnScriptSettings);
    LPAuthor->setText(Q(proc->Author));
    LPInfo->setText(Q(proc->InfoURL));
}

// ---- sort keys --------------------------------------------------------------------------------

void TFSettings::FillSortKeys() {
    LBSort->clear();
    const std::string& keys = Engine()->XMLSort;
    if (keys.size() != 3) {
        LBSort->addItems({QStringLiteral("Channel"), QStringLiteral("Start Time"), QStringLiteral("Stop Time")});
        return;
    }
    for (const char key : keys) {
        if (key == 'A') LBSort->addItem(QStringLiteral("Start Time"));
        else if (key == 'C') LBSort->addItem(QStringLiteral("Channel"));
        else if (key == 'O') LBSort->addItem(QStringLiteral("Stop Time"));
    }
}

void TFSettings::RebuildXMLSort() {
    std::string keys;
    for (int i = 0; i < LBSort->count(); ++i) {
        const QString text = LBSort->item(i)->text();
        if (text == QLatin1String("Channel")) keys += 'C';
        else if (text == QLatin1String("Start Time")) keys += 'A';
        else if (text == QLatin1String("Stop Time")) keys += 'O';
    }
    if (TLuaGrabbers* e = Engine()) e->XMLSort = keys;
}

void TFSettings::MoveSortKey(bool up) {
    const int count = LBSort->count();
    if (count == 0) {   // nothing to move: the order cannot be changed
        ShowMessage("Error changing order");
        return;
    }
    MoveMarkedLines(LBSort, up, [](int, int) {});
    RebuildXMLSort();
}

void TFSettings::Button2Click() { MoveSortKey(true); }
void TFSettings::Button3Click() { MoveSortKey(false); }

// ---- scripts ----------------------------------------------------------------------------------

void TFSettings::MoveScript(QTreeWidget* view, bool grabbers, bool up) {
    TLuaGrabbers* engine = Engine();
    const QList<QTreeWidgetItem*> selected = view->selectedItems();
    if (!engine || selected.isEmpty()) return;
    const int i = view->indexOfTopLevelItem(selected.first());
    const int count = view->topLevelItemCount();
    if (up ? i <= 0 : i >= count - 1) return;
    // The engine's list is the run order; positions count from 1.
    TLuaBaseList& scripts = grabbers ? static_cast<TLuaBaseList&>(engine->Grabbers)
                                     : static_cast<TLuaBaseList&>(engine->PostProcessors);
    if (up) scripts.Exchange(i, i + 1);
    else scripts.Exchange(i + 1, i + 2);
    // The same script stays selected at its new place; its details stay as they are.
    const QSignalBlocker block(view);
    QTreeWidgetItem* row = view->takeTopLevelItem(i);
    view->insertTopLevelItem(up ? i - 1 : i + 1, row);
    view->setCurrentItem(row);
    row->setSelected(true);
}

void TFSettings::BMoveGUpClick() { MoveScript(LVGrabbers, true, true); }
void TFSettings::BMoveGDownClick() { MoveScript(LVGrabbers, true, false); }
void TFSettings::BMovePUpClick() { MoveScript(LVProcs, false, true); }
void TFSettings::BMovePDownClick() { MoveScript(LVProcs, false, false); }

// ---- browsing ---------------------------------------------------------------------------------

void TFSettings::Browse(QLineEdit* field, const char* title, const char* defaultName, const char* suffix,
                        const char* filter) {
    QFileDialog dialog(this, QLatin1String(title));
    dialog.setObjectName(QStringLiteral("SaveDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(NameFilters(QLatin1String(filter)));
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);   // "*.XML" matches "data.xml" too
    dialog.setDefaultSuffix(QLatin1String(suffix));
    const QString text = field->text();
    const qsizetype slash = std::max(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0) dialog.setDirectory(text.left(slash + 1));
    dialog.selectFile(text.isEmpty() ? QLatin1String(defaultName) : text.mid(slash + 1));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    field->setText(dialog.selectedFiles().first());   // its handler stores the name
}

void TFSettings::BOutBrowseClick() {
    Browse(EOutFile, "Select XML Output File", "data.xml", "xml", "XML Files|*.XML|All Files|*.*");
}

void TFSettings::Button4Click() {
    Browse(ESaveLog, "Select Log Output File", "log.txt", "txt", "Text Files|*.txt|All Files|*.*");
}
