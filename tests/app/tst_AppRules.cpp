// The window program's rules that need no window: the application title, the
// boxes' texts, centring, scaling, the bars' feed and the font's text height.
#include "ModalBoxCatcher.h"

#include <Application.h>
#include <MainRules.h>
#include <MessageBoxes.h>

#include <db/DbError.h>
#include <run/RunError.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QProgressBar>
#include <QTest>

#include <stdexcept>

namespace {

// Throws run::RunError(chain[0]) with chain[1] nested in it, and so on.
[[noreturn]] void throwChain(const QStringList &chain, qsizetype at = 0)
{
    if (at == chain.size() - 1)
        throw run::RunError(chain.at(at));
    try {
        throwChain(chain, at + 1);
    } catch (...) {
        std::throw_with_nested(run::RunError(chain.at(at)));
    }
}

} // namespace

class tst_AppRules : public QObject
{
    Q_OBJECT

private slots:
    void title_data();
    void title();
    void applicationErrorBoxText_data();
    void applicationErrorBoxText();
    void failureKind();
    void reportText_data();
    void reportText();
    void reportBox();
    void centring_data();
    void centring();
    void startupShowState_data();
    void startupShowState();
    void scaling_data();
    void scaling();
    void scaledEdgesStayTogether();
    void feedHoldsBackUntilFlush();
    void feedRange_data();
    void feedRange();
    void feedRefusesMaximumBelowMinimum();
    void feedShowsEmptyRangeAsEmptyBar();
    void textHeight_data();
    void textHeight();
    void windowFontFollowsResolution_data();
    void windowFontFollowsResolution();
};

void tst_AppRules::title_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("two dots") << "/opt/tools/MyTool.Setup.exe" << "Mytool";
    QTest::newRow("upper case") << "/opt/TOOL.EXE" << "Tool";
    QTest::newRow("no extension") << "/usr/local/bin/reindex" << "Reindex";
    QTest::newRow("dots in the folder only") << "/home/a.b.c/reindex" << "Reindex";
    QTest::newRow("bare name") << "reindex.exe" << "Reindex";
    QTest::newRow("Cyrillic") << QStringLiteral(u"/x/ПЕРЕИНДЕКСАЦИЯ.exe") << QStringLiteral(u"Переиндексация");
    QTest::newRow("first already lower, rest mixed") << "/x/mY_ToOl-2.bin" << "My_tool-2";
    QTest::newRow("starts with a dot") << "/x/.hidden" << "";
}

void tst_AppRules::title()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(applicationTitle(path), title);
}

void tst_AppRules::applicationErrorBoxText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("second");
    // The full stop here is added unless the text already ends in one: unlike
    // the error report, "!" gets one too.
    QTest::newRow("letter") << "No engine" << "No engine.";
    QTest::newRow("full stop") << "No engine." << "No engine.";
    QTest::newRow("exclamation") << QStringLiteral(u"Нет!") << QStringLiteral(u"Нет!.");
    QTest::newRow("empty") << "" << ".";
    QTest::newRow("percent signs stay") << "100% %1 %2" << "100% %1 %2.";
}

void tst_AppRules::applicationErrorBoxText()
{
    QFETCH(QString, message);
    QFETCH(QString, second);
    const QString address = sizeof(void *) == 8 ? QStringLiteral("00000000004A2F1C") : QStringLiteral("004A2F1C");
    QCOMPARE(applicationErrorText(QStringLiteral("DbError"), QStringLiteral("reindex"), 0x4a2f1c, message),
             QStringLiteral("Exception DbError in module reindex at ") + address + QStringLiteral(".\r\n") + second
                 + QStringLiteral("\r\n"));
}

void tst_AppRules::failureKind()
{
    QCOMPARE(failureKindName(run::RunError(QStringLiteral("x"))), QStringLiteral("RunError"));
    QCOMPARE(failureKindName(db::DbError(QStringLiteral("x"))), QStringLiteral("DbError"));
    QCOMPARE(failureKindName(std::runtime_error("x")), QStringLiteral("runtime_error"));
}

void tst_AppRules::reportText_data()
{
    QTest::addColumn<QStringList>("chain"); // outermost first
    QTest::addColumn<QString>("text");
    QTest::newRow("letter gets a stop") << QStringList{QStringLiteral(u"Файл не найден")}
                                        << QStringLiteral(u"Файл не найден.");
    QTest::newRow("digit gets a stop") << QStringList{"code 42"} << "code 42.";
    QTest::newRow("stop kept") << QStringList{"Done."} << "Done.";
    QTest::newRow("exclamation kept") << QStringList{QStringLiteral(u"Готово!")} << QStringLiteral(u"Готово!");
    QTest::newRow("bracket kept") << QStringList{"(see log)"} << "(see log)";
    QTest::newRow("trailing space kept") << QStringList{"text "} << "text ";
    QTest::newRow("empty stays empty") << QStringList{""} << "";
    QTest::newRow("inner cause wins") << QStringList{"outer", "inner cause"} << "inner cause.";
    QTest::newRow("innermost of three") << QStringList{"outer", "middle", "innermost!"} << "innermost!";
    QTest::newRow("empty innermost leaves the outer text") << QStringList{"outer", "middle", ""} << "outer.";
}

void tst_AppRules::reportText()
{
    QFETCH(QStringList, chain);
    QFETCH(QString, text);
    try {
        throwChain(chain);
    } catch (const std::exception &failure) {
        QCOMPARE(ErrorReport::text(failure), text);
        return;
    }
    QFAIL("nothing was thrown");
}

void tst_AppRules::reportBox()
{
    ModalBoxCatcher catcher;
    ErrorReport::show(db::DbError(QStringLiteral("no such table: Razdel_table")));
    QCOMPARE(catcher.boxes().size(), size_t(1));
    const auto &box = catcher.boxes().front();
    QCOMPARE(box.text, QStringLiteral("no such table: Razdel_table."));
    QCOMPARE(box.caption, applicationTitle(QCoreApplication::applicationFilePath()));
    QCOMPARE(box.caption, QStringLiteral("Tst_apprules"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, 1);
}

void tst_AppRules::startupShowState_data()
{
    QTest::addColumn<int>("command"); // Windows' SW_* number
    QTest::addColumn<Qt::WindowStates>("state");
    QTest::newRow("SW_HIDE") << 0 << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("SW_SHOWNORMAL") << 1 << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("SW_SHOWMINIMIZED") << 2 << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("SW_SHOWMAXIMIZED") << 3 << Qt::WindowStates(Qt::WindowMaximized);
    QTest::newRow("SW_SHOWNOACTIVATE") << 4 << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("SW_MINIMIZE") << 6 << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("SW_SHOWMINNOACTIVE") << 7 << Qt::WindowStates(Qt::WindowMinimized);
    QTest::newRow("SW_SHOWNA") << 8 << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("SW_SHOWDEFAULT") << 10 << Qt::WindowStates(Qt::WindowNoState);
    QTest::newRow("SW_FORCEMINIMIZE") << 11 << Qt::WindowStates(Qt::WindowNoState);
}

void tst_AppRules::startupShowState()
{
    QFETCH(int, command);
    QFETCH(Qt::WindowStates, state);
    QCOMPARE(startupWindowState(command), state);
}

void tst_AppRules::centring_data()
{
    QTest::addColumn<QRect>("desktop");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("one screen") << QRect(0, 0, 1920, 1080) << QSize(409, 256) << QPoint(756, 412);
    QTest::newRow("odd sizes halve downwards") << QRect(0, 0, 1025, 769) << QSize(395, 241) << QPoint(315, 264);
    QTest::newRow("screen left of the primary")
        << QRect(-1280, 0, 3200, 1200) << QSize(409, 256) << QPoint(116, 472);
    QTest::newRow("desktop above the primary") << QRect(0, -600, 800, 1400) << QSize(400, 200) << QPoint(200, 0);
    QTest::newRow("window wider than the desktop") << QRect(0, 0, 300, 200) << QSize(409, 256) << QPoint(0, 0);
    QTest::newRow("too large on a shifted desktop")
        << QRect(-100, -50, 300, 200) << QSize(409, 256) << QPoint(-100, -50);
}

void tst_AppRules::centring()
{
    QFETCH(QRect, desktop);
    QFETCH(QSize, window);
    QFETCH(QPoint, position);
    QCOMPARE(centredPosition(desktop, window), position);
}

void tst_AppRules::scaling_data()
{
    QTest::addColumn<int>("m");
    QTest::addColumn<int>("d");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("scaled");
    QTest::newRow("same") << 13 << 13 << 393 << 393;
    QTest::newRow("up, rounds down") << 17 << 13 << 393 << 514;   // 513.92
    QTest::newRow("up, rounds up") << 16 << 13 << 217 << 267;     // 267.08
    QTest::newRow("half rounds away from zero") << 3 << 2 << 5 << 8; // 7.5
    QTest::newRow("negative half") << 3 << 2 << -5 << -8;
    QTest::newRow("down") << 11 << 13 << 182 << 154;             // 154.0
    QTest::newRow("no 32-bit overflow") << 2 << 4 << 2000000000 << 1000000000;
}

void tst_AppRules::scaling()
{
    QFETCH(int, m);
    QFETCH(int, d);
    QFETCH(int, value);
    QFETCH(int, scaled);
    QCOMPARE(ScaleRatio(m, d).scaled(value), scaled);
}

void tst_AppRules::scaledEdgesStayTogether()
{
    // Two controls that touch stay touching: the shared edge is scaled once.
    const ScaleRatio ratio(17, 13);
    const QRect left(8, 8, 121, 20);
    const QRect right(129, 8, 121, 20);
    QCOMPARE(ratio.scaled(left).right() + 1, ratio.scaled(right).left());
    QCOMPARE(ratio.scaled(QRect(8, 8, 377, 81)), QRect(10, 10, 493, 106));
    QCOMPARE(ratio.scaled(QSize(393, 217)), QSize(514, 284));
}

void tst_AppRules::feedHoldsBackUntilFlush()
{
    QProgressBar bar;
    ProgressFeed feed(&bar, 100);
    QCOMPARE(bar.value(), 0);
    QCOMPARE(bar.maximum(), 100);
    feed.setMaximum(1000);
    for (int i = 0; i < 250; ++i)
        feed.step();
    QCOMPARE(feed.position(), 250);
    QCOMPARE(bar.maximum(), 100);
    QCOMPARE(bar.value(), 0);
    feed.flush();
    QCOMPARE(bar.maximum(), 1000);
    QCOMPARE(bar.value(), 250);
}

void tst_AppRules::feedRange_data()
{
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("shown");
    QTest::newRow("steps up") << 10 << 3 << 4 << 7;
    QTest::newRow("steps stop at the maximum") << 5 << 4 << 3 << 5;
    QTest::newRow("position above is held at the maximum") << 5 << 9 << 0 << 5;
    QTest::newRow("negative position is held at 0") << 5 << -3 << 1 << 1;
    QTest::newRow("full 32-bit range") << 2147483647 << 2147483646 << 2 << 2147483647;
}

void tst_AppRules::feedRange()
{
    QFETCH(int, maximum);
    QFETCH(int, position);
    QFETCH(int, steps);
    QFETCH(int, shown);
    QProgressBar bar;
    ProgressFeed feed(&bar, 100);
    feed.setMaximum(maximum);
    feed.setPosition(position);
    for (int i = 0; i < steps; ++i)
        feed.step();
    feed.flush();
    QCOMPARE(feed.position(), shown);
    QCOMPARE(bar.value(), shown);
    QCOMPARE(bar.maximum(), maximum);
}

void tst_AppRules::feedRefusesMaximumBelowMinimum()
{
    QProgressBar bar;
    bar.setObjectName(QStringLiteral("ProgressBar1"));
    ProgressFeed feed(&bar, 100);
    feed.setPosition(40);
    QVERIFY_THROWS_EXCEPTION(run::RunError, feed.setMaximum(-1));
    QCOMPARE(feed.maximum(), 100);
    QCOMPARE(feed.position(), 40);
    // Lowering it below the position pulls the position along.
    feed.setMaximum(30);
    QCOMPARE(feed.position(), 30);
}

void tst_AppRules::feedShowsEmptyRangeAsEmptyBar()
{
    QProgressBar bar;
    ProgressFeed feed(&bar, 100);
    feed.setMaximum(0);
    feed.step();
    feed.flush();
    QCOMPARE(feed.maximum(), 0);
    QCOMPARE(feed.position(), 0);
    // Equal ends would make the bar an endless busy animation.
    QVERIFY(bar.maximum() > bar.minimum());
    QCOMPARE(bar.value(), bar.minimum());
}

void tst_AppRules::textHeight_data()
{
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("ascent");
    QTest::addColumn<int>("height");
    // 8 points at 96 dpi, and the same at 120 dpi (13.75 rounded).
    QTest::newRow("11 px") << 11 << 11 << 13;
    QTest::newRow("14 px") << 14 << 14 << 17;
}

void tst_AppRules::textHeight()
{
    QFETCH(int, pixelSize);
    QFETCH(int, ascent);
    QFETCH(int, height);
    if (!WindowFont::ensureTahoma())
        QSKIP("no Tahoma on this system");
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelSize);
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("Tahoma"));
    const TextCellMetrics cell(font);
    QCOMPARE(cell.ascent(), ascent);
    QCOMPARE(cell.height(), height);
}

void tst_AppRules::windowFontFollowsResolution_data()
{
    QTest::addColumn<qreal>("dpi");
    QTest::addColumn<int>("pixelSize");
    QTest::newRow("96 dpi") << 96.0 << 11;
    QTest::newRow("120 dpi") << 120.0 << 14;
    QTest::newRow("144 dpi") << 144.0 << 17;
}

void tst_AppRules::windowFontFollowsResolution()
{
    QFETCH(qreal, dpi);
    QFETCH(int, pixelSize);
    const QFont font = WindowFont::create(dpi);
    QCOMPARE(font.pixelSize(), pixelSize);
    if (WindowFont::ensureTahoma())
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("Tahoma"));
    else
        QVERIFY(QFontDatabase::families(QFontDatabase::Cyrillic).contains(QFontInfo(font).family()));
}

QTEST_MAIN(tst_AppRules)
#include "tst_AppRules.moc"
