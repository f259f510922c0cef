#pragma once

#include <QIcon>
#include <QString>

// The toolbar image called `name` ("Main", "Server", "Help") from the application's resources, or a
// null icon when there is no image of that name.
QIcon toolbarImageNamed(const QString &name);

// The application's own icon, for its windows.
QIcon applicationImage();
