// The start-up anchor: the least a Qt 6 Widgets program does to put up a window of
// the download window's size and title. It stays up until it is closed or killed.
//   startup_anchor            an empty window
//   startup_anchor --labels   the same with two "#" labels in the default font, to
//                             tell what drawing text costs (the first use of a font
//                             sets up the font database)

#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
  const bool labels = argc > 1 && std::strcmp(argv[1], "--labels") == 0;
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle("Setup - Korvani");
  window.resize(498, 360);
  if (labels) {
    for (const int top : {88, 128}) {
      auto* label =
          new QLabel("#", &window);  // NOLINT(cppcoreguidelines-owning-memory): owned by the window
      label->move(184, top);
    }
  }
  window.show();
  return QApplication::exec();
}
