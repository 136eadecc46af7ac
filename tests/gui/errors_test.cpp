// An exception thrown out of a handler is shown, then the program ends.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <stdexcept>

#include "tests/gui/GuiTest.h"
#include "ui/Application.h"

namespace {

class ErrorsTest : public qv::test::GuiTest {
protected:
    void TearDown() override {
        qv::ui::Application::SetEnd(nullptr);
        GuiTest::TearDown();
    }
};

TEST_F(ErrorsTest, AnExceptionOutOfAHandlerIsShownThenTheProgramEnds) {
    ASSERT_NE(qobject_cast<qv::ui::Application*>(QCoreApplication::instance()), nullptr);
    struct Case {
        const char* what;
        std::function<void()> fault;
        const char* said;
    } cases[] = {
        {"std::exception", [] { throw std::runtime_error("記録が壊れています"); },
         "記録が壊れています"},
        {"out of memory", [] { throw std::bad_alloc(); }, "メモリが足りません。"},
        {"anything else", [] { throw 42; }, "原因の分からないエラーです。"},
    };
    for (const Case& c : cases) {
        int ended = 0;
        qv::ui::Application::SetEnd([&] { ++ended; });
        // A handler run by the event loop, as a click or a timer would run it.
        QEventLoop loop;
        QTimer::singleShot(0, [&] { c.fault(); });
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_EQ(ended, 1) << c.what;
        const QStringList shown = ShownTexts();
        ASSERT_EQ(shown.size(), 1) << c.what;
        EXPECT_TRUE(shown[0].startsWith(
            QStringLiteral("予期しないエラーが起きたため、Quorvel裁判所を終了します。")))
            << c.what;
        EXPECT_TRUE(shown[0].endsWith(QString::fromUtf8(c.said))) << shown[0].toStdString();
    }
}

}  // namespace
