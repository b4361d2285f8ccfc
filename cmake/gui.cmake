# Qt targets: the tray application and the desktop-widget host.
find_package(Qt6 REQUIRED COMPONENTS Widgets Gui)
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)
