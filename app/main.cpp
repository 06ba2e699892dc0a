#include "Polaczone.h"

#include <stdexcept>

int main(int argc, char* argv[])
{
    try {
        Application->Initialize(argc, argv);
        Application->CreateForm(Form1);
        Application->Run();
    } catch (const std::exception& failure) {
        Application->ShowException(failure);
    } catch (...) {
        Application->ShowException(std::runtime_error(""));
    }
    Application->Terminate();
    return 0;
}
