#include "ui/Application.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "ui/MessageBox.h"

namespace qv::ui {
namespace {

void EndNow() {
    std::fflush(nullptr);
    // No destructors: the state a failed handler left behind is not to be run through.
    std::_Exit(EXIT_FAILURE);
}

std::function<void()>& End() {
    static std::function<void()> end = EndNow;
    return end;
}

// What the current exception says, for the user.
QString Describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("メモリが足りません。");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("原因の分からないエラーです。");
    }
}

void TellAndEnd(std::exception_ptr error) {
    try {
        MessageBox::Show(
            QStringLiteral("予期しないエラーが起きたため、Quorvel裁判所を終了します。\n"
                           "保存していないルールの変更は失われます。\n\n") +
            Describe(error));
    } catch (...) {
        std::fputs("quorvel: 予期しないエラーが起きたため終了しました。\n", stderr);
    }
    End()();
}

std::terminate_handler gPreviousTerminate = nullptr;

// Start-up runs outside any handler: an error escaping main ends here.
[[noreturn]] void OnTerminate() {
    if (std::exception_ptr error = std::current_exception()) {
        std::set_terminate(gPreviousTerminate);  // a second fault must not loop
        TellAndEnd(error);
    }
    EndNow();
    std::abort();  // unreachable: EndNow does not return
}

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    gPreviousTerminate = std::set_terminate(OnTerminate);
}

Application::~Application() { std::set_terminate(gPreviousTerminate); }

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        TellAndEnd(std::current_exception());
        return false;
    }
}

void Application::SetEnd(std::function<void()> end) { End() = end ? std::move(end) : EndNow; }

}  // namespace qv::ui
