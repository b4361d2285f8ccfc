# Qt targets: the tray application, the desktop-widget host and the picture
# sheet. Included after brimvale_core exists; Qt never reaches the core.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets DBus)
set(CMAKE_AUTOMOC ON)

# Views shared by the application and the widget host.
file(GLOB BRIMVALE_SHARED_VIEW_SOURCES CONFIGURE_DEPENDS src/shared_views/*.cc)
add_library(brimvale_views STATIC ${BRIMVALE_SHARED_VIEW_SOURCES})
target_include_directories(brimvale_views PUBLIC src)
target_link_libraries(brimvale_views PUBLIC brimvale_core Qt6::Gui Qt6::Widgets)

# The application's pieces (everything of src/shell but its entry point, plus
# src/views) as a library, so the tests link the same code.
file(GLOB BRIMVALE_SHELL_SOURCES CONFIGURE_DEPENDS src/shell/*.cc)
list(FILTER BRIMVALE_SHELL_SOURCES EXCLUDE REGEX "/src/shell/main\\.cc$")
file(GLOB_RECURSE BRIMVALE_APP_VIEW_SOURCES CONFIGURE_DEPENDS src/views/*.cc)
add_library(brimvale_app STATIC ${BRIMVALE_SHELL_SOURCES} ${BRIMVALE_APP_VIEW_SOURCES})
target_link_libraries(brimvale_app PUBLIC brimvale_views brimvale_core Qt6::Widgets Qt6::DBus)
qt_add_resources(brimvale_app brimvale_shell_resources
  PREFIX /brimvale
  BASE src/shell/resources
  FILES src/shell/resources/AppIcon.png)

add_executable(brimvale src/shell/main.cc)
target_link_libraries(brimvale PRIVATE brimvale_app)

# Every icon style, provider mark and ring gauge drawn into PNG files.
add_executable(brimvale-iconsheet src/shell/iconsheet/main.cc)
target_link_libraries(brimvale-iconsheet PRIVATE brimvale_app)

# The desktop-widget host, once its sources exist.
file(GLOB BRIMVALE_WIDGET_SOURCES CONFIGURE_DEPENDS src/widget/*.cc)
list(FILTER BRIMVALE_WIDGET_SOURCES EXCLUDE REGEX "/src/widget/main\\.cc$")
if(BRIMVALE_WIDGET_SOURCES)
  add_library(brimvale_widget STATIC ${BRIMVALE_WIDGET_SOURCES})
  target_link_libraries(brimvale_widget PUBLIC brimvale_views brimvale_core Qt6::Widgets)
endif()
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/src/widget/main.cc)
  add_executable(brimvale-widgets src/widget/main.cc)
  if(TARGET brimvale_widget)
    target_link_libraries(brimvale-widgets PRIVATE brimvale_widget)
  else()
    target_link_libraries(brimvale-widgets PRIVATE brimvale_views brimvale_core Qt6::Widgets)
  endif()
endif()
