#pragma once

#include <QIcon>

// The client's icon in every size it is made in (drawn by
// tools/make-pictures.sh), for the frame and the about box.
QIcon SkifferIcon();

// The picture on the main form (bitmap 135): the skiff under sail.
QPixmap SkifferPicture();
