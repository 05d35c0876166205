#pragma once

#include <QIcon>

// The program's own pictures: toolbar images drawn here, the rest made by
// tools/make-pictures.sh and compiled in from wharfkeep.qrc.
enum class ToolImage { About, ContextHelp, StopServing, StartServing };
QIcon ToolIcon(ToolImage image); // 16 x 16 toolbar images
QIcon WharfkeepIcon();           // the frame's icon, from the resources

// The pictures compiled into this library: the icon sizes, the start-up
// picture and the new-client animation. Safe to call more than once.
void InitWharfkeepResources();
