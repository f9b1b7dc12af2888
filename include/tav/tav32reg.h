// Register: what the package gives a design tool, the two components on the palette page
// "Brannock Statistics" and the four editors of their variable properties.
#pragma once

#include <QImage>
#include <string>

namespace tav {

// Registers the components and the editors; registering again adds nothing.
void Register();

// The palette bitmap of a component class (24 x 24, 256 colours), by its resource name: the class
// name in upper case ("TTAVTABLE", "TTAVQUERY"). A null image for any other name.
QImage PaletteBitmap(const std::string& resourceName);

}  // namespace tav
