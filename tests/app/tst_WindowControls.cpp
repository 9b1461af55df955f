// The file-name fields and the start button as the main window sets them up:
// which file type each field's dialog offers, the start button's glyph, its
// keys before, during and after a run, and the language of Qt's own texts in
// the dialog and the boxes.
#include "../core/ProgramDir.h"
#include "ModalBoxCatcher.h"

#include <Application.h>
#include <FilenameEdit.h>
#include <GlyphButton.h>
#include <MainU.h>
#include <Pictures.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <optional>
#include <vector>

class tst_WindowControls : public QObject
{
    Q_OBJECT

private slots:
    void fieldsOfferTheirFileType_data();
    void fieldsOfferTheirFileType();
    void startButtonShowsItsGlyph();
    void startKeys_data();
    void startKeys();
    void toolkitTextsInTheUsersLanguage_data();
    void toolkitTextsInTheUsersLanguage();
};

void tst_WindowControls::fieldsOfferTheirFileType_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("filter");
    QTest::newRow("sFilenameEdit1") << "sFilenameEdit1" << QStringLiteral(u"Файл таблицы разделов (fr_fr.txt)");
    QTest::newRow("sFilenameEdit2") << "sFilenameEdit2" << QStringLiteral(u"Файл таблицы тем (forum.txt)");
}

void tst_WindowControls::fieldsOfferTheirFileType()
{
    QFETCH(QString, field);
    QFETCH(QString, filter);
    ProgramDir dir;
    TfMain w(dir.dir());
    auto *edit = w.findChild<FilenameEdit *>(field);
    QVERIFY(edit);
    std::vector<BrowseRequest> seen;
    edit->setBrowseDialog([&seen](QWidget *, const BrowseRequest &request) -> std::optional<QString> {
        seen.push_back(request);
        return std::nullopt;
    });
    edit->browse();
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(seen.front().nameFilters, QStringList{filter});
    QVERIFY(!edit->browseButton()->glyph().isNull());
}

void tst_WindowControls::startButtonShowsItsGlyph()
{
    ProgramDir dir;
    TfMain w(dir.dir());
    auto *button = w.findChild<GlyphButton *>(QStringLiteral("sBitBtn1"));
    QVERIFY(button);
    QVERIFY(!button->glyph().isNull());
    QCOMPARE(button->glyph(), Pictures::startGlyph());
#ifndef Q_OS_WIN
    // On Windows the icon comes from the program file's own resources.
    QVERIFY(!w.windowIcon().isNull());
#endif
}

void tst_WindowControls::startKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("starts");
    QTest::newRow("Space") << int(Qt::Key_Space) << true;
    QTest::newRow("Return") << int(Qt::Key_Return) << true;
    QTest::newRow("Enter") << int(Qt::Key_Enter) << true;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
}

void tst_WindowControls::startKeys()
{
    QFETCH(int, key);
    QFETCH(bool, starts);
    ProgramDir dir;
    dir.write(QStringLiteral("sections.txt"), "10|News\r\n");
    dir.write(QStringLiteral("forums.txt"), "5|10|FAQ\r\n");
    TfMain w(dir.dir());
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.findChild<FilenameEdit *>(QStringLiteral("sFilenameEdit1"))->setText(dir.path(QStringLiteral("sections.txt")));
    w.findChild<FilenameEdit *>(QStringLiteral("sFilenameEdit2"))->setText(dir.path(QStringLiteral("forums.txt")));
    auto *button = w.findChild<GlyphButton *>(QStringLiteral("sBitBtn1"));
    button->setFocus(Qt::TabFocusReason);

    GlyphButton::Face faceDuringRun = GlyphButton::Face::Normal;
    ModalBoxCatcher catcher([&] {
        faceDuringRun = button->face();
        return QVariantMap();
    });
    QTest::keyClick(w.windowHandle(), Qt::Key(key));
    QCOMPARE(catcher.boxes().size(), size_t(starts ? 1 : 0));
    if (!starts)
        return;
    QCOMPARE(catcher.boxes().front().text, QStringLiteral(u"Обработка завершена!"));
    QCOMPARE(faceDuringRun, GlyphButton::Face::Disabled);

    // Back on, the button has not got the focus back: neither key starts
    // another run until a control is focused again.
    QVERIFY(button->isEnabled());
    QVERIFY(!button->hasFocus());
    QTest::keyClick(w.windowHandle(), Qt::Key_Space);
    QTest::keyClick(w.windowHandle(), Qt::Key_Return);
    QCOMPARE(catcher.boxes().size(), size_t(1));
}

void tst_WindowControls::toolkitTextsInTheUsersLanguage_data()
{
    QTest::addColumn<QString>("locale"); // empty: the system's, Russian as ctest runs this
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("lookIn");
    QTest::addColumn<QString>("cancel");
    QTest::addColumn<QString>("ok");
    // Qt's Russian keeps "OK" as it is; Spanish shows that the boxes' button is
    // translated all the same.
    QTest::newRow("system, LANG=ru_RU.UTF-8") << QString() << true << QStringLiteral(u"Перейти к:")
                                              << QStringLiteral(u"Отмена") << "OK";
    QTest::newRow("English") << "en_US" << true << "Look in:" << "Cancel" << "OK";
    QTest::newRow("Spanish") << "es_ES" << true << "Ver en:" << "Cancelar" << "Aceptar";
    QTest::newRow("a language Qt has no translation for") << "sw_KE" << false << "Look in:" << "Cancel" << "OK";
}

void tst_WindowControls::toolkitTextsInTheUsersLanguage()
{
    QFETCH(QString, locale);
    QFETCH(bool, found);
    QFETCH(QString, lookIn);
    QFETCH(QString, cancel);
    QFETCH(QString, ok);
    if (locale.isEmpty() && QLocale::system().language() != QLocale::Russian)
        QSKIP("the system's language is not Russian here: run with LANG=ru_RU.UTF-8, as ctest does");
    const auto backToEnglish = qScopeGuard([] { installToolkitTranslation(QLocale::c()); });
    if (locale.isEmpty())
        prepareApplication(); // as the program starts
    else
        QCOMPARE(installToolkitTranslation(QLocale(locale)), found);

    ProgramDir dir;
    TfMain w(dir.dir());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // The field's own dialog, opened as its browse button opens it.
    QString seenLookIn;
    QString seenCancel;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, &poll, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll.stop();
        if (auto *label = dialog->findChild<QLabel *>(QStringLiteral("lookInLabel")))
            seenLookIn = label->text();
        if (auto *buttons = dialog->findChild<QDialogButtonBox *>())
            if (QPushButton *button = buttons->button(QDialogButtonBox::Cancel))
                seenCancel = button->text();
        dialog->reject();
    });
    poll.start();
    w.findChild<FilenameEdit *>(QStringLiteral("sFilenameEdit1"))->browse();
    QCOMPARE(seenLookIn, lookIn);
    QCOMPARE(seenCancel, cancel);

    // A box of the window's: its text stays ours, its button is Qt's.
    ModalBoxCatcher catcher;
    w.sBitBtn1Click();
    QCOMPARE(catcher.boxes().size(), size_t(1));
    QCOMPARE(catcher.boxes().front().text, QStringLiteral(u"Указан несуществующий файл \"fr_fr.txt\"!"));
    QCOMPARE(catcher.boxes().front().okText, ok);
}

QTEST_MAIN(tst_WindowControls)
#include "tst_WindowControls.moc"
