// The application object: start-up, the event loop, the general failure
// report, and the one guard every click handler runs inside.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

class TForm;

class TApplication {
public:
    // Creates the windowing toolkit's application; argc and argv must outlive it.
    void Initialize(int& argc, char** argv);
    // Creates the main window of class Form; `form` refers to it until the
    // application ends.
    template <class Form>
    void CreateForm(Form*& form)
    {
        auto created = std::make_unique<Form>();
        form = created.get();
        mainForm = std::move(created);
    }
    // Shows the main window and runs the event loop until it has closed.
    void Run();
    // The general failure report: a modal message box with the failure's
    // message; the program goes on.
    void ShowException(const std::exception& failure);
    // Runs a handler; whatever it throws is shown with ShowException.
    void RunGuarded(const std::function<void()>& handler);
    // Destroys the main window and then the toolkit's application, while
    // the process can still tear them down (before main returns: after it,
    // the toolkit's per-thread state is gone and its destructors crash).
    void Terminate();
    ~TApplication();

    std::unique_ptr<TForm> mainForm;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

extern TApplication* Application;

// A modal message box with the text and an OK button; returns when it is closed.
void ShowMessage(const std::string& text);

// Shows the busy cursor for as long as it lives.
class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};
