#pragma once

#include <QIcon>

// The program's own pictures, drawn here rather than shipped as files.
enum class ToolImage { About, ContextHelp, StopServing, StartServing };
QIcon ToolIcon(ToolImage image);   // 16 x 16 toolbar images
QIcon WharfkeepIcon();             // the frame's icon
