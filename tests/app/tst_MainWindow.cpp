// The main window as a person meets it: its layout, its keys, its start-up
// against a database or none, and whole runs started from the button.
#include "../core/ProgramDir.h"
#include "ModalBoxCatcher.h"

#include <Application.h>
#include <MainRules.h>
#include <MainU.h>

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

namespace {

template <typename T = QWidget>
T *control(const TfMain &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// Runs the application's event loop until the program is asked to end, or
// fails the wait after `limitMs` with exit code 99.
int runEventLoop(int limitMs)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(limitMs);
    return QCoreApplication::exec();
}

// What a person sees of the run's state at a given moment.
QVariantMap looks(const TfMain &window)
{
    const QCursor *cursor = QApplication::overrideCursor();
    return {
        {QStringLiteral("startEnabled"), control<QPushButton>(window, "sBitBtn1")->isEnabled()},
        {QStringLiteral("operation"), control<QProgressBar>(window, "ProgressBar1")->value()},
        {QStringLiteral("operationMax"), control<QProgressBar>(window, "ProgressBar1")->maximum()},
        {QStringLiteral("overall"), control<QProgressBar>(window, "ProgressBar2")->value()},
        {QStringLiteral("overallMax"), control<QProgressBar>(window, "ProgressBar2")->maximum()},
        {QStringLiteral("busy"), cursor != nullptr && cursor->shape() == Qt::WaitCursor},
        {QStringLiteral("visible"), window.isVisible()},
        {QStringLiteral("focus"), window.focusWidget() ? window.focusWidget()->objectName() : QString()},
    };
}

struct BarState
{
    int overall;
    int operationMax;
    int operation;
    bool operator==(const BarState &) const = default;
};

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void window();
    void tabOrderAndFirstFocus();
    void keysInFieldsStartNothing_data();
    void keysInFieldsStartNothing();
    void changeScale_data();
    void changeScale();
    void opensDatabaseBesideProgram();
    void connectionFailure_data();
    void connectionFailure();
    void closingWhenIdleEndsProgram();
    void fullRunFromButton();
    void barsFollowPhases();
    void missingFile_data();
    void missingFile();
    void failingRun_data();
    void failingRun();
    void closeDuringRunLetsItFinish();
};

void tst_MainWindow::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    const QString window = QStringLiteral("fMain");
    QTest::newRow("Panel1") << "Panel1" << window << "QFrame" << QRect(8, 8, 377, 81) << "";
    QTest::newRow("Label1") << "Label1" << "Panel1" << "QLabel" << QRect(16, 19, 69, 13)
                            << QStringLiteral(u"Файл fr_fr.txt");
    QTest::newRow("Label2") << "Label2" << "Panel1" << "QLabel" << QRect(16, 46, 75, 13)
                            << QStringLiteral(u"Файл forum.txt");
    QTest::newRow("sFilenameEdit1") << "sFilenameEdit1" << "Panel1" << "FilenameEdit" << QRect(104, 16, 257, 21) << "";
    QTest::newRow("sFilenameEdit2") << "sFilenameEdit2" << "Panel1" << "FilenameEdit" << QRect(104, 43, 257, 21) << "";
    QTest::newRow("Panel2") << "Panel2" << window << "QFrame" << QRect(8, 95, 377, 81) << "";
    QTest::newRow("Label3") << "Label3" << "Panel2" << "QLabel" << QRect(16, 19, 96, 13)
                            << QStringLiteral(u"Текущая операция");
    QTest::newRow("Label4") << "Label4" << "Panel2" << "QLabel" << QRect(16, 46, 83, 13)
                            << QStringLiteral(u"Общий прогресс");
    QTest::newRow("ProgressBar1") << "ProgressBar1" << "Panel2" << "QProgressBar" << QRect(118, 16, 243, 17) << "";
    QTest::newRow("ProgressBar2") << "ProgressBar2" << "Panel2" << "QProgressBar" << QRect(118, 43, 243, 17) << "";
    QTest::newRow("sBitBtn1") << "sBitBtn1" << window << "GlyphButton" << QRect(8, 182, 377, 25)
                              << QStringLiteral(u"Начать обработку");
}

void tst_MainWindow::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    ProgramDir dir;
    TfMain w(dir.dir());
    const int textHeight = TextCellMetrics(w.font()).height();
    if (textHeight != 13)
        QSKIP(qPrintable(QStringLiteral("the layout is drawn for a 13-pixel text height; this system's font "
                                        "measures %1 and the window is scaled")
                             .arg(textHeight)));

    QWidget *c = w.findChild<QWidget *>(name);
    QVERIFY2(c, qPrintable(name));
    QCOMPARE(QString::fromLatin1(c->metaObject()->className()), kind);
    QCOMPARE(c->parentWidget()->objectName(), parent);
    if (auto *label = qobject_cast<QLabel *>(c)) {
        // A label stands where the layout puts it and is as large as its text.
        QCOMPARE(c->pos(), geometry.topLeft());
        QCOMPARE(c->size(), label->sizeHint());
        QVERIFY2(label->contentsRect().width() >= QFontMetrics(label->font()).horizontalAdvance(text),
                 qPrintable(QStringLiteral("%1 wide for a text of %2")
                                .arg(label->contentsRect().width())
                                .arg(QFontMetrics(label->font()).horizontalAdvance(text))));
        QCOMPARE(label->text(), text);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QVERIFY(!label->buddy());
        return;
    }
    QCOMPARE(c->geometry(), geometry);
    if (auto *button = qobject_cast<QPushButton *>(c)) {
        QCOMPARE(button->text(), text);
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(button->focusPolicy(), Qt::StrongFocus);
    } else if (auto *field = qobject_cast<QLineEdit *>(c)) {
        QCOMPARE(field->text(), QString());
        QCOMPARE(field->maxLength(), 255);
    } else if (auto *bar = qobject_cast<QProgressBar *>(c)) {
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), name == QLatin1String("ProgressBar2") ? 5 : 100);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->orientation(), Qt::Horizontal);
        QCOMPARE(bar->focusPolicy(), Qt::NoFocus);
    } else if (auto *panel = qobject_cast<QFrame *>(c)) {
        QCOMPARE(panel->frameShape(), QFrame::Panel);
        QCOMPARE(panel->frameShadow(), QFrame::Sunken);
        QCOMPARE(panel->lineWidth(), 2);
        QCOMPARE(panel->focusPolicy(), Qt::NoFocus);
    }
}

void tst_MainWindow::window()
{
    ProgramDir dir;
    TfMain w(dir.dir());
    QCOMPARE(w.objectName(), QStringLiteral("fMain"));
    QCOMPARE(w.windowTitle(), QStringLiteral(u"Переиндексация БД"));
    QVERIFY(w.isWindow());
    const Qt::WindowFlags flags = w.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));

    QCOMPARE(w.font().pixelSize(), 11);
    QCOMPARE(QFontInfo(w.font()).pixelSize(), 11);
    if (TextCellMetrics(w.font()).height() == 13)
        QCOMPARE(w.size(), QSize(393, 217));
    QCOMPARE(w.minimumSize(), w.size());
    QCOMPARE(w.maximumSize(), w.size());

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // The window sits centred on the desktop; the exact arithmetic is the
    // centring rule's own test.
    const QRect desktop = w.screen()->virtualGeometry();
    const QPoint offset = w.frameGeometry().center() - desktop.center();
    QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1,
             qPrintable(QStringLiteral("frame centre off by %1,%2").arg(offset.x()).arg(offset.y())));
}

void tst_MainWindow::tabOrderAndFirstFocus()
{
    ProgramDir dir;
    TfMain w(dir.dir());
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *edit1 = control(w, "sFilenameEdit1");
    auto *edit2 = control(w, "sFilenameEdit2");
    auto *button = control(w, "sBitBtn1");
    QCOMPARE(QApplication::focusWidget(), edit1);

    const QList<QWidget *> forward{edit2, button, edit1, edit2};
    for (QWidget *expected : forward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), expected);
    }
    const QList<QWidget *> backward{edit1, button, edit2};
    for (QWidget *expected : backward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), expected);
    }
}

void tst_MainWindow::keysInFieldsStartNothing_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("key");
    QTest::newRow("Return in the first field") << "sFilenameEdit1" << int(Qt::Key_Return);
    QTest::newRow("Enter in the second field") << "sFilenameEdit2" << int(Qt::Key_Enter);
    QTest::newRow("Escape in the first field") << "sFilenameEdit1" << int(Qt::Key_Escape);
}

void tst_MainWindow::keysInFieldsStartNothing()
{
    QFETCH(QString, field);
    QFETCH(int, key);
    ProgramDir dir;
    TfMain w(dir.dir());
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    ModalBoxCatcher catcher;
    // Both fields are empty: a run started by any means shows a warning box.
    QWidget *target = w.findChild<QWidget *>(field);
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QTest::qWait(30);
    QCOMPARE(catcher.boxes().size(), size_t(0));
    QVERIFY(w.isVisible());

    QTest::mouseClick(control(w, "sBitBtn1"), Qt::LeftButton);
    QCOMPARE(catcher.boxes().size(), size_t(1));
}

void tst_MainWindow::changeScale_data()
{
    QTest::addColumn<int>("m");
    QTest::addColumn<int>("d");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    // Worked by hand: every edge times m/d, rounded.
    QTest::newRow("17/13 client") << 17 << 13 << "fMain" << QRect(0, 0, 514, 284);
    QTest::newRow("17/13 Panel1") << 17 << 13 << "Panel1" << QRect(10, 10, 493, 106);
    QTest::newRow("17/13 Label1") << 17 << 13 << "Label1" << QRect(21, 25, 90, 17);
    QTest::newRow("17/13 sFilenameEdit2") << 17 << 13 << "sFilenameEdit2" << QRect(136, 56, 336, 28);
    QTest::newRow("17/13 sBitBtn1") << 17 << 13 << "sBitBtn1" << QRect(10, 238, 493, 33);
    QTest::newRow("16/13 client") << 16 << 13 << "fMain" << QRect(0, 0, 484, 267);
    QTest::newRow("16/13 ProgressBar1") << 16 << 13 << "ProgressBar1" << QRect(145, 20, 299, 21);
    QTest::newRow("11/13 Panel2") << 11 << 13 << "Panel2" << QRect(7, 80, 319, 69);
}

void tst_MainWindow::changeScale()
{
    QFETCH(int, m);
    QFETCH(int, d);
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    ProgramDir dir;
    TfMain w(dir.dir());
    if (TextCellMetrics(w.font()).height() != 13)
        QSKIP("the window is already scaled for this system's font");
    w.changeScale(ScaleRatio(m, d));
    if (name == QLatin1String("fMain")) {
        QCOMPARE(w.size(), geometry.size());
        QCOMPARE(w.minimumSize(), geometry.size());
        QCOMPARE(w.maximumSize(), geometry.size());
    } else if (auto *label = w.findChild<QLabel *>(name)) {
        // Labels move with the layout and stay as large as their text.
        QCOMPARE(label->pos(), geometry.topLeft());
        QCOMPARE(label->size(), label->sizeHint());
    } else {
        QCOMPARE(w.findChild<QWidget *>(name)->geometry(), geometry);
    }
}

void tst_MainWindow::opensDatabaseBesideProgram()
{
    ProgramDir dir;
    // The database is the one in the program's folder, whatever the current one.
    QTemporaryDir elsewhere;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    ModalBoxCatcher catcher;
    {
        TfMain w(dir.dir());
        QDir::setCurrent(previous);
        QCOMPARE(catcher.boxes().size(), size_t(0));
        QVERIFY(!w.isQuitRequested());
    }
}

void tst_MainWindow::connectionFailure_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("no Database.mdb") << "none";
    QTest::newRow("Database.mdb is no database") << "garbage";
    QTest::newRow("Database.mdb is a folder") << "folder";
    QTest::newRow("database without the tables") << "empty";
    QTest::newRow("no folder: its name did not decode") << "unnamed";
}

void tst_MainWindow::connectionFailure()
{
    QFETCH(QString, what);
    QTemporaryDir dir;
    const QString mdb = dir.filePath(QStringLiteral("Database.mdb"));
    if (what == QLatin1String("garbage")) {
        QFile f(mdb);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("Standard Jet DB\0\0\0 this is not what the engine reads", 52);
    } else if (what == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Database.mdb")));
    } else if (what == QLatin1String("empty")) {
        QFile f(mdb);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // Without a folder of its own the window must not take the database of
    // the current one instead.
    const QString previous = QDir::currentPath();
    struct BackTo
    {
        QString folder;
        ~BackTo() { QDir::setCurrent(folder); }
    } backTo{previous};
    if (what == QLatin1String("unnamed")) {
        QVERIFY(QFile::copy(QStringLiteral(REINDEX_TEST_DATABASE), mdb));
        QVERIFY(QFile::setPermissions(mdb, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QDir::setCurrent(dir.path()));
    }

    TfMain *created = nullptr;
    ModalBoxCatcher catcher([&created] {
        bool anyWindowShown = false;
        for (QWidget *top : QApplication::topLevelWidgets())
            anyWindowShown = anyWindowShown || (qobject_cast<TfMain *>(top) && top->isVisible());
        return QVariantMap{{QStringLiteral("constructed"), created != nullptr},
                           {QStringLiteral("windowShown"), anyWindowShown}};
    });
    TfMain w(what == QLatin1String("unnamed") ? QString() : dir.path() + QDir::separator());
    created = &w;

    QCOMPARE(catcher.boxes().size(), size_t(1));
    const auto &box = catcher.boxes().front();
    QCOMPARE(box.text, QStringLiteral(u"Ошибка соединения с базой данных!"));
    QCOMPARE(box.caption, QStringLiteral(u"Внимание!"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, 1);
    // Shown while the window is being created, before it is on screen.
    QCOMPARE(box.state.value(QStringLiteral("constructed")).toBool(), false);
    QCOMPARE(box.state.value(QStringLiteral("windowShown")).toBool(), false);
    QVERIFY(w.isQuitRequested());

    // The event loop then shows the window, takes the request and ends.
    w.show();
    QCOMPARE(runEventLoop(20000), 0);
    QVERIFY(!w.isVisible());
    QCOMPARE(catcher.boxes().size(), size_t(1));
}

void tst_MainWindow::closingWhenIdleEndsProgram()
{
    ProgramDir dir;
    TfMain w(dir.dir());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTimer::singleShot(0, &w, [&w] { w.close(); });
    QCOMPARE(runEventLoop(20000), 0);
    QVERIFY(!w.isVisible());
}

void tst_MainWindow::fullRunFromButton()
{
    ProgramDir dir;
    dir.write(QStringLiteral("sections.txt"), "10|News\r\n20|Help\r\n");
    dir.write(QStringLiteral("forums.txt"), "5|20|FAQ\r\n6|99|Old\r\n");
    TfMain w(dir.dir());
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    control<QLineEdit>(w, "sFilenameEdit1")->setText(dir.path(QStringLiteral("sections.txt")));
    control<QLineEdit>(w, "sFilenameEdit2")->setText(dir.path(QStringLiteral("forums.txt")));

    QVariantMap duringRun;
    // Fires at the run's first pump.
    QTimer::singleShot(0, &w, [&] { duringRun = looks(w); });
    ModalBoxCatcher catcher([&w] { return looks(w); });
    QTest::mouseClick(control(w, "sBitBtn1"), Qt::LeftButton);

    QVERIFY(!duringRun.isEmpty());
    QCOMPARE(duringRun.value(QStringLiteral("startEnabled")).toBool(), false);
    QCOMPARE(duringRun.value(QStringLiteral("busy")).toBool(), true);
    // The click focused the button; switched off, it leaves the keyboard to
    // the window rather than to a field.
    QCOMPARE(duringRun.value(QStringLiteral("focus")).toString(), QStringLiteral("fMain"));

    QCOMPARE(catcher.boxes().size(), size_t(1));
    const auto &box = catcher.boxes().front();
    QCOMPARE(box.text, QStringLiteral(u"Обработка завершена!"));
    QCOMPARE(box.caption, QStringLiteral(u"Внимание!"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, 1);
    // While the final message is up: the overall bar full, the operation bar
    // back at 0 of the final copy's 4, the button still off, the cursor back.
    QCOMPARE(box.state.value(QStringLiteral("overall")).toInt(), 5);
    QCOMPARE(box.state.value(QStringLiteral("overallMax")).toInt(), 5);
    QCOMPARE(box.state.value(QStringLiteral("operation")).toInt(), 0);
    QCOMPARE(box.state.value(QStringLiteral("operationMax")).toInt(), 4);
    QCOMPARE(box.state.value(QStringLiteral("startEnabled")).toBool(), false);
    QCOMPARE(box.state.value(QStringLiteral("busy")).toBool(), false);

    const QVariantMap after = looks(w);
    QCOMPARE(after.value(QStringLiteral("startEnabled")).toBool(), true);
    QCOMPARE(after.value(QStringLiteral("overall")).toInt(), 0);
    QCOMPARE(after.value(QStringLiteral("operation")).toInt(), 0);
    QCOMPARE(after.value(QStringLiteral("focus")).toString(), QStringLiteral("fMain"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(!w.isRunning());
    QVERIFY(!w.isQuitRequested());

    QCOMPARE(dir.read(QStringLiteral("fr_fr.txt")), QByteArray("1|News\r\n2|Help\r\n"));
    QCOMPARE(dir.read(QStringLiteral("forum.txt")), QByteArray("5|2|FAQ\r\n6|0|Old\r\n"));
    QVERIFY(!dir.has(QStringLiteral("1.txt")));
    QVERIFY(!dir.has(QStringLiteral("2.txt")));
}

void tst_MainWindow::barsFollowPhases()
{
    ProgramDir dir;
    dir.write(QStringLiteral("sections.txt"), "1|A\r\n2|B\r\n3|C\r\n");
    dir.write(QStringLiteral("forums.txt"), "11|1|a\r\n12|2|b\r\n13|3|c\r\n14|1|d\r\n15|9|e\r\n");
    TfMain w(dir.dir());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    control<QLineEdit>(w, "sFilenameEdit1")->setText(dir.path(QStringLiteral("sections.txt")));
    control<QLineEdit>(w, "sFilenameEdit2")->setText(dir.path(QStringLiteral("forums.txt")));

    // A zero-interval timer runs each time the run lets events in.
    QList<BarState> seen;
    QTimer watch;
    watch.setInterval(0);
    connect(&watch, &QTimer::timeout, &w, [&] {
        const BarState now{control<QProgressBar>(w, "ProgressBar2")->value(),
                           control<QProgressBar>(w, "ProgressBar1")->maximum(),
                           control<QProgressBar>(w, "ProgressBar1")->value()};
        if (seen.isEmpty() || !(seen.last() == now))
            seen.append(now);
    });
    watch.start();
    ModalBoxCatcher catcher;
    QTest::mouseClick(control(w, "sBitBtn1"), Qt::LeftButton);
    watch.stop();
    QCOMPARE(catcher.boxes().size(), size_t(1));

    // Every phase's end shows on screen: the overall bar one further, the
    // operation bar at 0 of that phase's maximum (3 section lines, 5 forum
    // lines, 3 sections, 5 forums, then 4 file operations).
    const QList<BarState> phaseEnds{{1, 3, 0}, {2, 5, 0}, {3, 3, 0}, {4, 5, 0}, {4, 4, 0}, {5, 4, 0}};
    qsizetype at = 0;
    for (const BarState &state : std::as_const(seen)) {
        if (at < phaseEnds.size() && state == phaseEnds.at(at))
            ++at;
    }
    QString trace;
    for (const BarState &state : std::as_const(seen))
        trace += QStringLiteral(" (%1 %2 %3)").arg(state.overall).arg(state.operationMax).arg(state.operation);
    QVERIFY2(at == phaseEnds.size(), qPrintable(QStringLiteral("seen:") + trace));
}

void tst_MainWindow::missingFile_data()
{
    QTest::addColumn<QString>("sections"); // "" empty, "dir" a folder, "none" a missing file, "ok"
    QTest::addColumn<QString>("forums");
    QTest::addColumn<QString>("text");
    const QString sectionsText = QStringLiteral(u"Указан несуществующий файл \"fr_fr.txt\"!");
    const QString forumsText = QStringLiteral(u"Указан несуществующий файл \"forum.txt\"!");
    QTest::newRow("first field empty") << "" << "ok" << sectionsText;
    QTest::newRow("first field names a folder") << "dir" << "ok" << sectionsText;
    QTest::newRow("second field names no file") << "ok" << "none" << forumsText;
    QTest::newRow("second field empty") << "ok" << "" << forumsText;
    QTest::newRow("both missing: the first is told") << "none" << "none" << sectionsText;
}

void tst_MainWindow::missingFile()
{
    QFETCH(QString, sections);
    QFETCH(QString, forums);
    QFETCH(QString, text);
    ProgramDir dir;
    dir.write(QStringLiteral("list.txt"), "1|A\r\n");
    QVERIFY(QDir(dir.path(QString())).mkdir(QStringLiteral("folder")));
    auto name = [&](const QString &kind) {
        if (kind == QLatin1String("ok"))
            return dir.path(QStringLiteral("list.txt"));
        if (kind == QLatin1String("dir"))
            return dir.path(QStringLiteral("folder"));
        if (kind == QLatin1String("none"))
            return dir.path(QStringLiteral("fr_fr.txt"));
        return QString();
    };
    TfMain w(dir.dir());
    // Taken after the session has opened its database and whatever companion
    // files the engine keeps beside it.
    const QStringList before = dir.entries();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    control<QLineEdit>(w, "sFilenameEdit1")->setText(name(sections));
    control<QLineEdit>(w, "sFilenameEdit2")->setText(name(forums));
    ModalBoxCatcher catcher([&w] { return looks(w); });
    QTest::mouseClick(control(w, "sBitBtn1"), Qt::LeftButton);

    QCOMPARE(catcher.boxes().size(), size_t(1));
    const auto &box = catcher.boxes().front();
    QCOMPARE(box.text, text);
    QCOMPARE(box.caption, QStringLiteral(u"Внимание!"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, 1);
    QCOMPARE(box.state.value(QStringLiteral("busy")).toBool(), false);
    QCOMPARE(box.state.value(QStringLiteral("startEnabled")).toBool(), true);

    const QVariantMap after = looks(w);
    QCOMPARE(after.value(QStringLiteral("startEnabled")).toBool(), true);
    QCOMPARE(after.value(QStringLiteral("operation")).toInt(), 0);
    QCOMPARE(after.value(QStringLiteral("operationMax")).toInt(), 100);
    QCOMPARE(after.value(QStringLiteral("overall")).toInt(), 0);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(dir.entries(), before);
}

void tst_MainWindow::failingRun_data()
{
    QTest::addColumn<QByteArray>("sections");
    QTest::addColumn<QByteArray>("forums");
    QTest::addColumn<QString>("failingFile");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("operationMax");
    QTest::addColumn<int>("overall");
    QTest::newRow("empty section line") << QByteArray("1|A\r\n\r\n3|C\r\n") << QByteArray("5|1|F\r\n")
                                        << "sections.txt"
                                        << QStringLiteral(u"строка 2: идентификатор \"\" не является целым числом")
                                        << 1 << 3 << 0;
    QTest::newRow("forum naming its section in words")
        << QByteArray("1|A\r\n") << QByteArray("5|1|F\r\n6|x|G\r\n") << "forums.txt"
        << QStringLiteral(u"строка 2: идентификатор раздела \"x\" не является целым числом") << 1 << 2 << 1;
}

void tst_MainWindow::failingRun()
{
    QFETCH(QByteArray, sections);
    QFETCH(QByteArray, forums);
    QFETCH(QString, failingFile);
    QFETCH(QString, reason);
    QFETCH(int, operation);
    QFETCH(int, operationMax);
    QFETCH(int, overall);
    ProgramDir dir;
    dir.write(QStringLiteral("sections.txt"), sections);
    dir.write(QStringLiteral("forums.txt"), forums);
    TfMain w(dir.dir());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    control<QLineEdit>(w, "sFilenameEdit1")->setText(dir.path(QStringLiteral("sections.txt")));
    control<QLineEdit>(w, "sFilenameEdit2")->setText(dir.path(QStringLiteral("forums.txt")));

    ModalBoxCatcher catcher([&w] { return looks(w); });
    QTest::mouseClick(control(w, "sBitBtn1"), Qt::LeftButton);

    QCOMPARE(catcher.boxes().size(), size_t(1));
    const auto &box = catcher.boxes().front();
    // The failure's own message with the report's full stop, captioned with
    // the application title.
    QCOMPARE(box.text, QStringLiteral(u"Файл \"%1\", %2.").arg(QDir::toNativeSeparators(dir.path(failingFile)), reason));
    QCOMPARE(box.caption, applicationTitle(QCoreApplication::applicationFilePath()));
    QCOMPARE(box.caption, QStringLiteral("Tst_mainwindow"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, 1);
    QCOMPARE(box.state.value(QStringLiteral("startEnabled")).toBool(), false);

    // The bars keep where the run stopped; the button and the cursor come back.
    const QVariantMap after = looks(w);
    QCOMPARE(after.value(QStringLiteral("operation")).toInt(), operation);
    QCOMPARE(after.value(QStringLiteral("operationMax")).toInt(), operationMax);
    QCOMPARE(after.value(QStringLiteral("overall")).toInt(), overall);
    QCOMPARE(after.value(QStringLiteral("startEnabled")).toBool(), true);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(!w.isRunning());
    QVERIFY(!dir.has(QStringLiteral("fr_fr.txt")));

    // And the next run can be started from the same window.
    dir.write(QStringLiteral("sections.txt"), "1|A\r\n");
    dir.write(QStringLiteral("forums.txt"), "5|1|F\r\n");
    QTest::mouseClick(control(w, "sBitBtn1"), Qt::LeftButton);
    QCOMPARE(catcher.boxes().size(), size_t(2));
    QCOMPARE(catcher.boxes().back().text, QStringLiteral(u"Обработка завершена!"));
    QCOMPARE(dir.read(QStringLiteral("fr_fr.txt")), QByteArray("1|A\r\n"));
    QCOMPARE(dir.read(QStringLiteral("forum.txt")), QByteArray("5|1|F\r\n"));
}

void tst_MainWindow::closeDuringRunLetsItFinish()
{
    ProgramDir dir;
    dir.write(QStringLiteral("sections.txt"), "10|News\r\n20|Help\r\n");
    dir.write(QStringLiteral("forums.txt"), "5|20|FAQ\r\n6|10|Old\r\n");
    TfMain w(dir.dir());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    control<QLineEdit>(w, "sFilenameEdit1")->setText(dir.path(QStringLiteral("sections.txt")));
    control<QLineEdit>(w, "sFilenameEdit2")->setText(dir.path(QStringLiteral("forums.txt")));

    QVariantMap atClose;
    bool closeAccepted = true;
    ModalBoxCatcher catcher([&w] { return looks(w); });
    QTimer::singleShot(0, &w, [&] {
        // Queued now, taken by the run's first pump.
        QTimer::singleShot(0, &w, [&] {
            atClose = looks(w);
            atClose.insert(QStringLiteral("running"), w.isRunning());
            closeAccepted = w.close();
            atClose.insert(QStringLiteral("visibleAfter"), w.isVisible());
        });
        QTest::mouseClick(control(w, "sBitBtn1"), Qt::LeftButton);
    });
    QCOMPARE(runEventLoop(30000), 0);

    QCOMPARE(atClose.value(QStringLiteral("running")).toBool(), true);
    QCOMPARE(atClose.value(QStringLiteral("startEnabled")).toBool(), false);
    QVERIFY(!closeAccepted);
    QCOMPARE(atClose.value(QStringLiteral("visibleAfter")).toBool(), true);

    // The run went on to its final message, with the window still there ...
    QCOMPARE(catcher.boxes().size(), size_t(1));
    QCOMPARE(catcher.boxes().front().text, QStringLiteral(u"Обработка завершена!"));
    QCOMPARE(catcher.boxes().front().state.value(QStringLiteral("visible")).toBool(), true);
    QCOMPARE(dir.read(QStringLiteral("fr_fr.txt")), QByteArray("1|News\r\n2|Help\r\n"));
    QCOMPARE(dir.read(QStringLiteral("forum.txt")), QByteArray("5|2|FAQ\r\n6|1|Old\r\n"));
    // ... and then the program ended.
    QVERIFY(w.isQuitRequested());
    QVERIFY(!w.isVisible());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
