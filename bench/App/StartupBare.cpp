// The start-up benchmark's point of comparison: a bare Qt Widgets program that shows one
// QMainWindow of the application's default size, and waits to be ended.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(1100, 700);
    window.show();
    return QApplication::exec();
}
