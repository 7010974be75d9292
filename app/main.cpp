#include <QApplication>
#include <QDebug>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    qDebug() << "LocalService starting";
    app.setQuitOnLastWindowClosed(false);
    return app.exec();
}
