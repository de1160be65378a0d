#pragma once
// The start-up and shut-down of the picture classes of the file formats. The
// classes register with the picture-format registry in a fixed order (the
// platform's built-in bitmaps, icons and JPEG pictures first, then the format
// units), and unregister in the reverse order; the open and save dialogs walk
// the registry from its last entry back, so the order is what users see.

// Registers the built-in picture classes and the format units' classes.
// Calling it again adds nothing.
void RegisterFormatPictureClasses();
// Removes the format units' classes, last registered first. The built-in
// classes belong to the platform and stay.
void UnregisterFormatPictureClasses();
