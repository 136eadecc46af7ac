#pragma once

#include <QApplication>
#include <functional>

namespace qv::ui {

// The program's application object. An exception that escapes an event handler, or
// start-up, would end the program without a word: it is shown in a box, then the
// program ends, since what the handler left half done cannot be trusted.
class Application : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);
    ~Application() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // What follows the box; by default the process ends at once with a failure status.
    // Tests pass their own.
    static void SetEnd(std::function<void()> end);
};

}  // namespace qv::ui
