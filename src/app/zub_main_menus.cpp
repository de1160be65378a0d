// The main window's menu tree and what its items do: the one table of rows,
// the open handlers that enable items by the document's state, the commands
// of the window itself, and view and zoom.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include <cmath>
#include <cstdio>

#include "exif_reader.h"
#include "img_fsdither.h"
#include "img_viewcoords.h"
#include "platform_clipboard.h"
#include "platform_messagebox.h"
#include "raster_filterindex.h"
#include "raster_image_view.h"
#include "shell.h"
#include "sysinfo.h"
#include "zub_about.h"
#include "zub_tools.h"
#include "zub_document.h"
#include "zub_layers.h"
#include "zub_main.h"
#include "zub_tools.h"
#include "zub_main_engine.h"
#include "zub_plugins.h"

const std::vector<TMenuRow>& MenuRows() {
  static const std::vector<TMenuRow> Rows = {
      {"File1", "", "&File", "", 0, &TzubForm::File1Click},
      {"New1", "File1", "&New...", "Ctrl+N", 0, &TzubForm::New1Click},
      {"NewWindow1", "File1", "New &Window...", "Ctrl+Alt+N", 0, &TzubForm::NewWindow1Click},
      {"OpenFile1", "File1", "&Open...", "Ctrl+O", 0, &TzubForm::OpenFile1Click},
      {"OpeninNewWindow1", "File1", "Open &in New Window...", "Ctrl+Alt+O", 0, &TzubForm::OpeninNewWindow1Click},
      {"-", "File1", "", "", 0, nullptr},
      {"Save1", "File1", "&Save", "Ctrl+S", 0, &TzubForm::Save1Click},
      {"SaveAs1", "File1", "Save &As...", "F12", 0, &TzubForm::SaveAs1Click},
      {"Checkpoint1", "File1", "Chec&kpoint", "", 0, nullptr},
      {"Commit1", "Checkpoint1", "&Commit", "Ctrl+K", 0, &TzubForm::Commit1Click},
      {"Rollback1", "Checkpoint1", "&Rollback", "", 0, &TzubForm::Rollback1Click},
      {"Encrypt1", "File1", "&Encrypt...", "Ctrl+E", 0, nullptr, "Encrypt1Click"},
      {"Revert1", "File1", "&Revert", "", 0, &TzubForm::Revert1Click},
      {"ClearEXIFInfo1", "File1", "Clear EXIF Info", "", 0, &TzubForm::ClearEXIFInfo1Click},
      {"Close1", "File1", "&Close", "Ctrl+F4", 0, &TzubForm::Close1Click},
      {"-", "File1", "", "", 0, nullptr},
      {"Twain1", "File1", "Twain", "", 0, nullptr},
      {"Acquire1", "Twain1", "Acquire", "", 0, nullptr, "Acquire1Click"},
      {"SelectSource1", "Twain1", "Select Source", "", 0, nullptr, "SelectSource1Click"},
      {"PrintSetup1", "File1", "Print &Setup...", "", 0, nullptr, "PrintSetup1Click"},
      {"Print1", "File1", "&Print...", "Ctrl+P", 0, nullptr, "Print1Click"},
      {"-", "File1", "", "", 0, nullptr},
      {"RecentFiles1", "File1", "Recent Files", "", 0, nullptr},
      {"OpenRecentFile1", "RecentFiles1", "OpenRecentFile", "", 0, &TzubForm::OpenRecentFile1Click},
      {"Preferences1", "File1", "Pre&ferences", "", 0, &TzubForm::Preferences1Click},
      {"Resizing1", "Preferences1", "&Resizing", "", 0, nullptr},
      {"Nearest1", "Resizing1", "&Nearest", "", 0, &TzubForm::SetResizing},
      {"Draft1", "Resizing1", "&Draft", "", 1, &TzubForm::SetResizing},
      {"Linear1", "Resizing1", "&Linear", "", 2, &TzubForm::SetResizing},
      {"Cosine1", "Resizing1", "&Cosine", "", 3, &TzubForm::SetResizing},
      {"Spline1", "Resizing1", "&Spline", "", 4, &TzubForm::SetResizing},
      {"Lanczos1", "Resizing1", "Lanczos", "", 5, &TzubForm::SetResizing},
      {"Mitchell1", "Resizing1", "Mitchell", "", 6, &TzubForm::SetResizing},
      {"Cubic1", "Resizing1", "Cubic", "", 7, &TzubForm::SetResizing},
      {"JPEG1", "Preferences1", "JPEG", "", 0, nullptr},
      {"Quality1", "JPEG1", "Quality", "", 0, nullptr},
      {"Fine1", "Quality1", "Fine (100)", "", 100, &TzubForm::SetJPEGQuality},
      {"Normal1", "Quality1", "Normal (94)", "", 94, &TzubForm::SetJPEGQuality},
      {"Basic1", "Quality1", "Basic (80)", "", 80, &TzubForm::SetJPEGQuality},
      {"Poor1", "Quality1", "Poor (50)", "", 50, &TzubForm::SetJPEGQuality},
      {"Troll1", "Quality1", "Troll (25)", "", 25, &TzubForm::SetJPEGQuality},
      {"JPEG20001", "Preferences1", "JPEG2000", "", 0, nullptr},
      {"Quality2", "JPEG20001", "Quality", "", 0, nullptr},
      {"Default1", "Quality2", "Default", "", 0, &TzubForm::Default1Click},
      {"N301", "Quality2", "30%", "", 30, &TzubForm::Default1Click},
      {"N201", "Quality2", "20%", "", 20, &TzubForm::Default1Click},
      {"N151", "Quality2", "15%", "", 15, &TzubForm::Default1Click},
      {"N102", "Quality2", "10%", "", 10, &TzubForm::Default1Click},
      {"N51", "Quality2", "5%", "", 5, &TzubForm::Default1Click},
      {"Format1", "JPEG20001", "Format", "", 0, nullptr},
      {"GrayScale1", "Format1", "GrayScale", "", 1, &TzubForm::GrayScale1Click},
      {"Color1", "Format1", "Color", "", 3, &TzubForm::GrayScale1Click},
      {"GIF1", "Preferences1", "GIF", "", 0, nullptr},
      {"Dither1", "GIF1", "&Dither", "", 0, &TzubForm::Dither1Click},
      {"File2", "Preferences1", "File", "", 0, nullptr},
      {"CreateBackup1", "File2", "Create Backup", "", 0, &TzubForm::CreateBackup1Click},
      {"ShowPathonTitle1", "File2", "Show Path on Title", "", 0, &TzubForm::ShowPathonTitle1Click},
      {"Draw1", "Preferences1", "Draw", "", 0, nullptr},
      {"SnaptoGrid1", "Draw1", "Snap to Grid", "", 0, nullptr},
      {"N101", "SnaptoGrid1", "10", "", 10, &TzubForm::N101Click},
      {"N202", "SnaptoGrid1", "20", "", 20, &TzubForm::N101Click},
      {"N501", "SnaptoGrid1", "50", "", 50, &TzubForm::N101Click},
      {"N1001", "SnaptoGrid1", "100", "", 100, &TzubForm::N101Click},
      {"-", "File1", "", "", 0, nullptr},
      {"Exit1", "File1", "&Exit", "Alt+F4", 0, &TzubForm::Exit1Click},
      {"Edit1", "", "&Edit", "", 0, &TzubForm::Edit1Click},
      {"Undo1", "Edit1", "&Undo", "Ctrl+Z", 0, &TzubForm::Undo1Click},
      {"UndoUndo1", "Edit1", "U&ndo Undo", "Shift+Ctrl+Z", 0, &TzubForm::UndoUndo1Click},
      {"Redo1", "Edit1", "&Redo", "Ctrl+Y", 0, &TzubForm::Redo1Click},
      {"RedoPlugin1", "Edit1", "&Redo Plugin", "Shift+Ctrl+Y", 0, nullptr, "RedoPlugin1Click"},
      {"-", "Edit1", "", "", 0, nullptr},
      {"Buffer1", "Edit1", "&Buffer", "", 0, nullptr},
      {"PuttoBuffer1", "Buffer1", "Put to &Buffer", "", 0, nullptr, "PuttoBuffer1Click"},
      {"GetfromBuffer1", "Buffer1", "&Get from Buffer", "", 0, nullptr, "GetfromBuffer1Click"},
      {"ExchangewithBuffer1", "Buffer1", "E&xchange with Buffer", "", 0, nullptr, "ExchangewithBuffer1Click"},
      {"MergefromBuffer1", "Buffer1", "&Merge from Buffer", "", 0, nullptr, "MergefromBuffer1Click"},
      {"DistanceToBuffer1", "Buffer1", "&Distance to Buffer", "", 0, nullptr, "DistanceToBuffer1Click"},
      {"AddBuffer1", "Buffer1", "&Add Buffer", "", 0, nullptr, "AddBuffer1Click"},
      {"ModulatebyBuffer1", "Buffer1", "&Modulate by Buffer", "", 0, nullptr, "ModulatebyBuffer1Click"},
      {"MergefromFile1", "Edit1", "&Merge from &Image", "", 0, nullptr, "MergefromFile1Click"},
      {"MergefromUndo1", "Edit1", "Merge from U&ndo", "", 0, nullptr, "MergefromUndo1Click"},
      {"-", "Edit1", "", "", 0, nullptr},
      {"SelectAll1", "Edit1", "Select &All", "Ctrl+A", 0, &TzubForm::SelectAll1Click},
      {"SelectNone1", "Edit1", "Select &None", "Ctrl+D", 0, &TzubForm::SelectNone1Click},
      {"-", "Edit1", "", "", 0, nullptr},
      {"Copy1", "Edit1", "&Copy", "Ctrl+C", 0, nullptr, "Copy1Click"},
      {"Paste1", "Edit1", "&Paste", "", 0, &TzubForm::Paste1Click},
      {"PasteAsFloatingSelection1", "Paste1", "Paste As Floating Selection", "Ctrl+V", 0, &TzubForm::PasteAsFloatingSelection1Click},
      {"PasteIntoSelection1", "Paste1", "Paste Into Selection", "Shift+Ctrl+V", 0, nullptr, "PasteIntoSelection1Click"},
      {"PasteIntoNewWindow1", "Paste1", "Paste Into New Window", "Ctrl+Alt+V", 0, &TzubForm::PasteIntoNewWindow1Click},
      {"Cut1", "Edit1", "Cu&t", "Ctrl+X", 0, nullptr, "Cut1Click"},
      {"Clear1", "Edit1", "C&lear", "Del", 0, nullptr, "Clear1Click"},
      {"EmptyClipboard1", "Edit1", "&Empty Clipboard", "", 0, &TzubForm::EmptyClipboard1Click},
      {"View1", "", "&View", "", 0, &TzubForm::View1Click},
      {"NormalViewing1", "View1", "&Normal Viewing ", "", 0, &TzubForm::NormalViewing1Click},
      {"ZoomIn1", "View1", "Zoom &In", "Z", 0, &TzubForm::ZoomIn1Click},
      {"ZoomOut1", "View1", "Zoom &Out", "Shift+Z", 0, &TzubForm::ZoomOut1Click},
      {"ZoomTo1", "View1", "Zoom To", "", 0, nullptr},
      {"N31", "ZoomTo1", "3:1", "3", 300, &TzubForm::N210Click},
      {"N210", "ZoomTo1", "2:1", "2", 200, &TzubForm::N210Click},
      {"N11", "ZoomTo1", "1:1", "1", 100, &TzubForm::N210Click},
      {"N12", "ZoomTo1", "1:2", "5", 50, &TzubForm::N210Click},
      {"N14", "ZoomTo1", "1:4", "4", 25, &TzubForm::N210Click},
      {"Fit1", "ZoomTo1", "&Fit", "W", 0, &TzubForm::Fit1Click},
      {"-", "View1", "", "", 0, nullptr},
      {"Bars1", "View1", "Toolbars", "", 0, &TzubForm::Bars1Click},
      {"StandardToolbar1", "Bars1", "&Standard", "", 0, &TzubForm::StandardToolbar1Click},
      {"EditToolbar1", "Bars1", "&Edit", "", 0, &TzubForm::EditToolbar1Click},
      {"StatusBar2", "View1", "&Status Bar ", "", 0, &TzubForm::StatusBar2Click},
      {"-", "View1", "", "", 0, nullptr},
      {"ImageInfo1", "View1", "Image EXIF &Info", "Shift+I", 0, nullptr, "ImageInfo1Click"},
      {"Histogram1", "View1", "&Histogram", "Shift+H", 0, &TzubForm::Histogram1Click},
      {"Timing1", "View1", "&Timing", "", 0, &TzubForm::Timing1Click},
      {"Test1", "View1", "&Test", "", 9999, nullptr},
      {"Image1", "", "&Image", "", 0, &TzubForm::Image1Click},
      {"Flip1", "Image1", "&Flip", "Ctrl+I", 401, nullptr},
      {"Mirror1", "Image1", "&Mirror", "Ctrl+M", 402, nullptr},
      {"Rotate1", "Image1", "&Rotate...", "Ctrl+R", 0, nullptr, "Rotate1Click"},
      {"Effects1", "Image1", "&Effects", "", 0, nullptr},
      {"Mosaic1", "Effects1", "Mosaic...", "", 0, nullptr, "Mosaic1Click"},
      {"Quantize1", "Effects1", "Quantize...", "", 0, nullptr, "Quantize1Click"},
      {"Spray1", "Effects1", "Spray...", "", 0, nullptr, "Spray1Click"},
      {"Hole1", "Effects1", "Hole...", "", 0, nullptr, "Hole1Click"},
      {"Twirl1", "Effects1", "Twirl...", "", 0, nullptr, "Twirl1Click"},
      {"Mandelbrot1", "Effects1", "Mandelbrot", "", -900, nullptr},
      {"Round1", "Image1", "Round", "", 410, nullptr},
      {"-", "Image1", "", "", 0, nullptr},
      {"CroptoSelection1", "Image1", "&Crop to Selection", "Shift+R", 0, nullptr, "CroptoSelection1Click"},
      {"Resize1", "Image1", "R&esize...", "Shift+S", 0, nullptr, "Resize1Click"},
      {"Size1", "Image1", "Si&ze...", "", 0, nullptr, "Size1Click"},
      {"-", "Image1", "", "", 0, nullptr},
      {"ChromaticAberration1", "Image1", "Chromatic &Aberration", "", 0, nullptr},
      {"RGB1", "ChromaticAberration1", "R<-GB", "", 911, nullptr},
      {"BGR1", "ChromaticAberration1", "BG->R", "", 912, nullptr},
      {"RGB2", "ChromaticAberration1", "RG->B", "Shift+Ctrl+K", 913, nullptr},
      {"BGR2", "ChromaticAberration1", "B<-GR", "", 914, nullptr},
      {"RGB3", "ChromaticAberration1", "&R<-G->B", "Ctrl+Alt+K", 915, nullptr},
      {"BGR3", "ChromaticAberration1", "&B<-G->R", "", 916, nullptr},
      {"ColorShift1", "Image1", "Color Shift", "", 0, nullptr},
      {"RedUp1", "ColorShift1", "Red Up", "", 921, nullptr},
      {"RedDown1", "ColorShift1", "Red Down", "", 922, nullptr},
      {"RedLeft1", "ColorShift1", "Red Left", "", 923, nullptr},
      {"RedRight1", "ColorShift1", "Red Right", "", 924, nullptr},
      {"BlueUp1", "ColorShift1", "Blue Up", "", 925, nullptr},
      {"BlueDown1", "ColorShift1", "Blue Down", "", 926, nullptr},
      {"BlueLeft1", "ColorShift1", "Blue Left", "", 927, nullptr},
      {"BlueRight1", "ColorShift1", "Blue Right", "", 928, nullptr},
      {"NoiseReduction1", "Image1", "&Noise Reduction", "Ctrl+Alt+R", 941, nullptr},
      {"-", "Image1", "", "", 0, nullptr},
      {"Sort1", "Image1", "&Sort", "", 0, nullptr},
      {"ByLuminance1", "Sort1", "By &Luminance", "", 870, nullptr},
      {"ByRed1", "Sort1", "By &Red", "", 871, nullptr},
      {"ByGreen1", "Sort1", "By &Green", "", 872, nullptr},
      {"ByBlue1", "Sort1", "By &Blue", "", 873, nullptr},
      {"ByAlpha1", "Sort1", "By &Alpha", "", 874, nullptr},
      {"ByHue1", "Sort1", "By &Hue", "", 875, nullptr},
      {"BySaturation1", "Sort1", "By &Saturation", "", 876, nullptr},
      {"Rank1", "Image1", "&Rank", "", 0, nullptr},
      {"ErodeMin1", "Rank1", "&Erode (Min)", "", 111, nullptr},
      {"DilateMax1", "Rank1", "&Dilate (Max)", "", 112, nullptr},
      {"Mean1", "Rank1", "&Mean", "", 113, nullptr},
      {"Median1", "Rank1", "Me&dian", "", 114, nullptr},
      {"Variance1", "Rank1", "&Variance", "", 115, nullptr},
      {"StdDev1", "Rank1", "&StdDev", "", 116, nullptr},
      {"Kuwahara1", "Rank1", "&Kuwahara", "", 121, nullptr},
      {"Blur1", "Image1", "&Blur", "", 0, nullptr},
      {"Blur2", "Blur1", "&Blur", "", 100, nullptr},
      {"Blurmore1", "Blur1", "B&lur more", "", 101, nullptr},
      {"BlurGaussian1", "Blur1", "Blur (&Gaussian)", "", 102, nullptr},
      {"MotionBlur1", "Blur1", "&Motion Blur", "", 103, nullptr},
      {"Soften1", "Blur1", "&Soften", "", 104, nullptr},
      {"SoftenMore1", "Blur1", "So&ften More", "", 105, nullptr},
      {"SavitskiGolay1", "Blur1", "Savitski-Golay", "", 107, nullptr},
      {"Sharpen1", "Image1", "&Sharpen", "", 0, nullptr},
      {"UnsharpMask1", "Sharpen1", "&Unsharp Mask (Gauss)...", "Shift+M", 190, nullptr},
      {"UnsharpMaskLaplace1", "Sharpen1", "&Unsharp Mask (Laplace)...", "", 191, nullptr},
      {"Sharpen2", "Sharpen1", "&Sharpen", "", 300, nullptr},
      {"SharpenMore1", "Sharpen1", "S&harpen More", "", 301, nullptr},
      {"Enhance1", "Sharpen1", "&Enhance", "", 200, nullptr},
      {"EnhanceMore1", "Sharpen1", "E&nhance More", "", 201, nullptr},
      {"Edge1", "Image1", "&Edge", "", 0, nullptr},
      {"Laplace11", "Edge1", "Laplace 1", "", 221, nullptr},
      {"Laplace21", "Edge1", "Laplace 2", "", 222, nullptr},
      {"FindVertical1", "Edge1", "Find &Vertical", "", 203, nullptr},
      {"FindHorizontal1", "Edge1", "Find &Horizontal", "", 204, nullptr},
      {"Sobel2", "Edge1", "Sobel", "", 0, nullptr},
      {"VerticalSobel1", "Sobel2", "Vertical Sobel", "", 207, nullptr},
      {"HorizontalSobel1", "Sobel2", "Horizontal Sobel", "", 208, nullptr},
      {"Sobel1", "Sobel2", "Sobel...", "", 0, nullptr, "Sobel1Click"},
      {"Prewitt2", "Edge1", "Prewitt", "", 0, nullptr},
      {"VerticalPrewitt1", "Prewitt2", "Vertical Pre&witt", "", 205, nullptr},
      {"HorizontalPrewitt1", "Prewitt2", "Horizontal Prewitt", "", 206, nullptr},
      {"Prewitt1", "Prewitt2", "Prewitt...", "", 0, nullptr, "Prewitt1Click"},
      {"Emboss1", "Edge1", "Emboss", "", 210, nullptr},
      {"EmbossMore1", "Edge1", "Emboss More", "", 211, nullptr},
      {"Glow1", "Edge1", "&Glow", "", 231, nullptr},
      {"Pattern1", "Edge1", "&Pattern", "", 232, nullptr},
      {"HighPass1", "Edge1", "&HighPass", "", 311, nullptr},
      {"BlurMap1", "Edge1", "&BlurMap", "", 312, nullptr},
      {"Custom1", "Image1", "C&ustom", "", 0, nullptr},
      {"Execute1", "Custom1", "E&xecute", "Shift+X", 399, nullptr},
      {"Program1", "Custom1", "&Program", "Shift+Ctrl+X", 0, nullptr, "Program1Click"},
      {"Random1", "Custom1", "&Random", "Shift+Ctrl+Alt+X", 0, &TzubForm::Random1Click},
      {"Plugins1", "Image1", "&Plugins", "", 0, nullptr, "Plugins1Click"},
      {"library1", "Plugins1", "library", "", 0, nullptr},
      {"plugin1", "library1", "plugin", "", 0, nullptr, "plugin1Click"},
      {"Colors1", "", "&Colors", "", 0, &TzubForm::Colors1Click},
      {"Adjust1", "Colors1", "Adjust", "", 0, nullptr},
      {"BrightnessContrast1", "Adjust1", "&Brightness/Contrast...", "Shift+B", 0, nullptr, "BrightnessContrast1Click"},
      {"RedGreenBlue1", "Adjust1", "Red/Green/Blue...", "Shift+U", 0, nullptr, "RedGreenBlue1Click"},
      {"HueSaturation1", "Adjust1", "Hue/Saturation/Luminance...", "Shift+Y", 0, nullptr, "HueSaturation1Click"},
      {"-", "Colors1", "", "", 0, nullptr},
      {"LightenB1", "Colors1", "&Lighten(B)", "Shift+L", 861, nullptr},
      {"LightenC1", "Colors1", "Lighten(C)", "Shift+Alt+L", 863, nullptr},
      {"DarkenB1", "Colors1", "&Darken(B)", "Shift+D", 862, nullptr},
      {"DarkenC1", "Colors1", "Darken(C)", "Shift+Alt+D", 864, nullptr},
      {"Stretch1", "Colors1", "Stretch", "", 0, nullptr},
      {"SmartLuminance1", "Stretch1", "Smart (Luminance)", "Shift+E", 800, nullptr},
      {"Luminance1", "Stretch1", "Luminance", "", 801, nullptr},
      {"LuminanceMore1", "Stretch1", "Luminance More", "", 802, nullptr},
      {"Colors2", "Stretch1", "Colors", "", 803, nullptr},
      {"ColorsMore1", "Stretch1", "Colors More", "", 804, nullptr},
      {"Compress1", "Colors1", "Compress", "Shift+C", 811, nullptr},
      {"WhiteBalance1", "Colors1", "White Balance", "", 821, nullptr},
      {"GrayZone1", "WhiteBalance1", "Gray &Zone", "Shift+W", 821, nullptr},
      {"WhitePatch1", "WhiteBalance1", "White &Patch", "Shift+Ctrl+W", 822, nullptr},
      {"Gamma2", "Colors1", "&Gamma", "", 0, nullptr},
      {"Gamma1", "Gamma2", "&Gamma...", "", 0, nullptr, "Gamma1Click"},
      {"Lighten1", "Gamma2", "&Lighten!", "Ctrl+G", 865, nullptr},
      {"Darken1", "Gamma2", "&Darken!", "Shift+Ctrl+G", 866, nullptr},
      {"Contrast1", "Colors1", "Contrast", "", 0, nullptr},
      {"ContrastMore1", "Contrast1", "Contrast More", "", 867, nullptr},
      {"ContrastLess1", "Contrast1", "Contrast Less", "", 868, nullptr},
      {"GreyScale1", "Colors1", "&Grey Scale", "Shift+G", -700, nullptr},
      {"Channels1", "Colors1", "&Channels", "", 0, nullptr},
      {"AsColor1", "Channels1", "As Color", "", 0, nullptr},
      {"Red1", "AsColor1", "&Red", "", -721, nullptr},
      {"Green1", "AsColor1", "&Green", "", -722, nullptr},
      {"Blue1", "AsColor1", "&Blue", "", -723, nullptr},
      {"AsGray1", "Channels1", "As Gray", "", 0, nullptr},
      {"Red2", "AsGray1", "&Red", "", -711, nullptr},
      {"Green2", "AsGray1", "&Green", "", -712, nullptr},
      {"Blue2", "AsGray1", "&Blue", "", -713, nullptr},
      {"Spaces1", "Colors1", "&Spaces", "", 0, nullptr},
      {"HSL1", "Spaces1", "HSL", "", 0, nullptr},
      {"RGBHSL1", "HSL1", "RGB->HSL", "", -741, nullptr},
      {"HSLRGB1", "HSL1", "HSL->RGB", "", -742, nullptr},
      {"YUV1", "Spaces1", "YUV", "", 0, nullptr},
      {"RGBYUV1", "YUV1", "RGB->YUV", "", -743, nullptr},
      {"YUVRGB1", "YUV1", "YUV->RGB", "", -744, nullptr},
      {"NegativeImage1", "Colors1", "&Negative Image", "Shift+N", 400, nullptr},
      {"Rotate2", "Colors1", "&Rotate", "Shift+Ctrl+R", 841, nullptr},
      {"Tint1", "Colors1", "Tint", "Shift+T", 851, nullptr},
      {"-", "Colors1", "", "", 0, nullptr},
      {"TransparentBackground1", "Colors1", "Transparent Background", "", 0, &TzubForm::TransparentBackground1Click},
      {"CountColorsUsed1", "Colors1", "Co&unt Colors Used", "Ctrl+Alt+C", 0, &TzubForm::CountColorsUsed1Click},
      {"DecreaseColors1", "Colors1", "&Decrease Colors", "", 0, nullptr},
      {"Standard1", "DecreaseColors1", "Standard", "", 0, nullptr},
      {"N2Colors1bit1", "Standard1", "2 Colors (1 bit)", "Shift+Ctrl+1", -601, nullptr},
      {"N16Colors4bit1", "Standard1", "16 Colors (4 bit)", "Shift+Ctrl+2", -604, nullptr},
      {"N256Colors8bit1", "Standard1", "256 Colors (8 bit)", "Shift+Ctrl+3", -608, nullptr},
      {"N32KColors15bit1", "Standard1", "32K Colors (15 bit)", "Shift+Ctrl+4", -615, nullptr},
      {"N64KColors16bit1", "Standard1", "64K Colors (16 bit)", "Shift+Ctrl+5", -616, nullptr},
      {"FloydSteinberg1", "DecreaseColors1", "Floyd-Steinberg", "", 0, nullptr},
      {"N2Colors1bit2", "FloydSteinberg1", "2 Colors (1 bit)", "", 0, nullptr, "N2Colors1bit2Click"},
      {"N8Colors3bit1", "FloydSteinberg1", "8 Colors (3 bit)", "", 7, nullptr, "FSClick"},
      {"N64Colors6bit1", "FloydSteinberg1", "64 Colors (6 bit)", "", 6, nullptr, "FSClick"},
      {"N512Colors9bit1", "FloydSteinberg1", "512 Colors (9 bit)", "", 5, nullptr, "FSClick"},
      {"N4096Colors12bit1", "FloydSteinberg1", "4096 Colors (12 bit)", "", 4, nullptr, "FSClick"},
      {"Layers1", "", "&Layers", "", 0, &TzubForm::Layers1Click},
      {"DeleteAll1", "Layers1", "Delete All", "", 0, &TzubForm::DeleteAll1Click},
      {"FlattenAll1", "Layers1", "Flatten All", "", 0, &TzubForm::FlattenAll1Click},
      {"-", "Layers1", "", "", 0, nullptr},
      {"Delete1", "Layers1", "&Delete", "", 0, &TzubForm::Delete1Click},
      {"Flatten1", "Layers1", "&Flatten", "", 0, &TzubForm::Flatten1Click},
      {"Arrange1", "Layers1", "Arrange", "", 0, nullptr},
      {"BringtoFront1", "Arrange1", "Bring to Front", "", 0, &TzubForm::BringtoFront1Click},
      {"SendtoBottom1", "Arrange1", "Send to Back", "", 0, &TzubForm::SendtoBack1Click},
      {"-", "Layers1", "", "", 0, nullptr},
      {"Layers2", "Layers1", "Layers", "", 0, &TzubForm::Layers2Click},
      {"Layer1", "Layers2", "Layer", "", 0, &TzubForm::Layer1Click},
      {"Windows1", "", "Windows", "", 0, &TzubForm::Windows1Click},
      {"Window1", "Windows1", "Window", "", 0, &TzubForm::Window1Click},
      {"Help1", "", "&Help", "", 0, nullptr},
      {"Help2", "Help1", "&Help...", "F1", 0, &TzubForm::Help2Click},
      {"About1", "Help1", "&About Vemra...", "Ctrl+Alt+A", 0, &TzubForm::About1Click},
      {"HomePage1", "Help1", "Home &Page...", "Shift+F1", 0, &TzubForm::HomePage1Click},
      {"PopupMenu1", "#", "", "", 0, nullptr},
      {"Delete2", "PopupMenu1", "&Delete", "", 0, &TzubForm::Delete1Click},
      {"Flatten2", "PopupMenu1", "Flat&ten", "", 0, &TzubForm::Flatten1Click},
      {"Stamp1", "PopupMenu1", "&Stamp", "", 0, &TzubForm::Stamp1Click},
      {"BringtoFront2", "PopupMenu1", "Bring to &Front", "", 0, &TzubForm::BringtoFront1Click},
      {"SendtoBack1", "PopupMenu1", "&Send to Back", "", 0, &TzubForm::SendtoBack1Click},
      {"Unstretch1", "PopupMenu1", "&Unstretch", "", 0, &TzubForm::Unstretch1Click},
      {"TransparentBackground2", "PopupMenu1", "Transparent &Background", "", 0, nullptr, "TransparentBackground2Click"},
      {"Transparency1", "PopupMenu1", "Transparency", "", 0, &TzubForm::Transparency1Click},
      {"ResetTransparency1", "Transparency1", "&Reset", "", 0, nullptr, "ResetTransparency1Click"},
      {"FeatherTransparency1", "Transparency1", "&Feather", "", 0, nullptr, "FeatherTransparency1Click"},
      {"InvertTransparency1", "Transparency1", "&Invert", "", 0, nullptr, "InvertTransparency1Click"},
      {"CopyTransparency1", "Transparency1", "Copy", "", 0, nullptr, "CopyTransparency1Click"},
      {"PasteTransparency1", "Transparency1", "Paste", "", 0, nullptr, "PasteTransparency1Click"},
      {"PopupMenu2", "#", "", "", 0, nullptr},
      {"ColorfromHere1", "PopupMenu2", "Color from Here", "", 1, nullptr, "PatternfromHere1Click"},
      {"PatternfromHere1", "PopupMenu2", "Pattern from Here", "", 2, nullptr, "PatternfromHere1Click"},
      {"ClonefromHere1", "PopupMenu2", "Clone from Here", "", 3, nullptr, "PatternfromHere1Click"},
      {"UndofromHere1", "PopupMenu2", "Local Undo", "", 4, nullptr, "PatternfromHere1Click"},
      {"Cancel1", "PopupMenu2", "Cancel", "", 0, nullptr},
      {"PopupMenu3", "#", "", "", 0, nullptr},
      {"SoftFill1", "PopupMenu3", "&Soft", "", 1, nullptr, "SoftFill1Click"},
      {"HardFill1", "PopupMenu3", "&Hard", "", 2, nullptr, "SoftFill1Click"},
      {"SolidFill1", "PopupMenu3", "S&olid", "", 3, nullptr, "SoftFill1Click"},
      {"GradientRound1", "PopupMenu3", "&Gradient (Round)", "", 10, nullptr, "SoftFill1Click"},
      {"GradientAngle1", "PopupMenu3", "Gradient (&Angle)", "", 11, nullptr, "SoftFill1Click"},
      {"PatternSymetrical1", "PopupMenu3", "&Pattern (Symetrical) from Clipboard", "", 20, nullptr, "SoftFill1Click"},
      {"PatternFixed1", "PopupMenu3", "&Pattern (Fixed) from Clipboard", "", 21, nullptr, "SoftFill1Click"},
      {"PatternFloating1", "PopupMenu3", "&Pattern (Floating) from Clipboard", "", 22, nullptr, "SoftFill1Click"},
      {"ScaleLuminanceSoft1", "PopupMenu3", "Scale Luminance (Soft)", "", 111, nullptr, "SoftFill1Click"},
      {"ScaleLuminanceHard1", "PopupMenu3", "Scale Luminance (Hard)", "", 112, nullptr, "SoftFill1Click"},
      {"ScaleLuminanceSolid1", "PopupMenu3", "Scale Luminance (Solid)", "", 113, nullptr, "SoftFill1Click"},
      {"KeepLuminanceSoft1", "PopupMenu3", "Keep Luminance (Soft)", "", 101, nullptr, "SoftFill1Click"},
      {"KeepLuminanceHard1", "PopupMenu3", "Keep Luminance (Hard)", "", 102, nullptr, "SoftFill1Click"},
      {"KeepLuminanceSolid1", "PopupMenu3", "Keep Luminance (Solid)", "", 103, nullptr, "SoftFill1Click"},
      {"PopupMenu4", "#", "", "", 0, nullptr},
      {"CorrectVignettingfromHere1", "PopupMenu4", "Correct &Vignetting from Here", "", 0, nullptr, "CorrectVignettingfromHere1Click"},
      {"CorrectVignettingfromHerelargeaxis1", "PopupMenu4", "Correct &Vignetting from Here (large axis)", "", 0, nullptr, "CorrectVignettingfromHerelargeaxis1Click"},
      {"CorrectBarrelDistortionfromHere1", "PopupMenu4", "Correct &Barrel Distortion from Here", "", 0, nullptr, "CorrectBarrelDistortionfromHere1Click"},
      {"CorrectPincushionDistortionfromHere1", "PopupMenu4", "Correct &Pincushion Distortion from Here", "", 0, nullptr, "CorrectPincushionDistortionfromHere1Click"},
      {"Copy2", "PopupMenu4", "&Copy", "", 0, nullptr, "Copy1Click"},
      {"DefinePoint1", "PopupMenu4", "&Define Point from Here", "", 0, nullptr, "DefinePoint1Click"},
      {"DefinePointatCenter1", "PopupMenu4", "&Define Point at Center", "", 0, nullptr, "DefinePointatCenter1Click"},
      {"UndefineLastPoint1", "PopupMenu4", "&Undefine Last Point", "", 0, nullptr, "UndefineLastPoint1Click"},
      {"ClearPoints1", "PopupMenu4", "&Clear Points", "", 0, nullptr, "ClearPoints1Click"},
      {"LighteningGradientfromP1toHere1", "PopupMenu4", "Lightening Gradient (from P1 to Here)", "", 0, nullptr, "LighteningGradientfromP1toHere1Click"},
      {"LevelImagefromP1toHere1", "PopupMenu4", "Level Image (from P1 to Here)", "", 0, nullptr, "LevelImagefromP1toHere1Click"},
      {"StraightenImageFromP1toHere1", "PopupMenu4", "Straighten Image (From P1 to Here)", "", 0, nullptr, "StraightenImageFromP1toHere1Click"},
  };
  return Rows;
}

// ---- Pure helpers ------------------------------------------------------------------------

TMatrixKernel RandomKernel(const std::function<int32_t(int32_t N)>& Random) {
  TMatrixKernel K;
  for (int32_t& Cell : K.Cells) {
    Cell = Random(4) < 1 ? Random(8) - 4 : 0;
    K.Divisor += Cell;
  }
  if (K.Divisor < 0) {
    K.Divisor = -K.Divisor;
    for (int32_t& Cell : K.Cells) Cell = -Cell;
  }
  return K;
}

// The step is taken in double: a float product of a float step would land
// beside 2.0 after two steps, and "[2:1]" would print as "[2.00:1]".
float ZoomInScale(float Scale) {
  if (!(Scale <= 7.0f)) return Scale;
  return static_cast<float>(static_cast<double>(Scale) * 1.414213562);
}

float ZoomOutScale(float Scale) {
  if (!(static_cast<double>(Scale) >= 1.0 / 7.0)) return Scale;
  return static_cast<float>(static_cast<double>(Scale) / 1.414213562);
}

float FitScale(int32_t ClientWidth, int32_t ClientHeight, int32_t BitmapWidth, int32_t BitmapHeight) {
  if (BitmapWidth <= 0 || BitmapHeight <= 0) return 0;
  const double S = std::min((ClientHeight - 33.0) / BitmapHeight, (ClientWidth - 33.0) / BitmapWidth);
  // A window smaller than the margin would ask for a negative scale.
  return static_cast<float>(std::max(S, 0.001));
}

void SetViewOffsets(TImgView32& View, float OffsetHorz, float OffsetVert) {
  // The image update takes the offsets from the bar positions: move the bars
  // by what the offsets should change.
  View.Scroll(View.OffsetHorz() - OffsetHorz, View.OffsetVert() - OffsetVert);
}

std::string ColorLabel(TColor32 Color) {
  char Buf[16];
  std::snprintf(Buf, sizeof Buf, "#%06X", static_cast<unsigned>(Color & 0xFFFFFFu));
  return Buf;
}

// ---- Dispatch ------------------------------------------------------------------------------

void TzubForm::MenuActionClick(QAction* Item) {
  SelectTool(1);
  editor_->DoAction(Item->data().toInt());
}

void TzubForm::HookClick(QAction* Item) {
  for (const TMenuRow& R : MenuRows()) {
    if (R.Hook == nullptr || Item->objectName() != R.Name) continue;
    auto It = hooks_.find(R.Hook);
    if (It != hooks_.end() && It->second) It->second(Item);
    return;
  }
}

void TzubForm::SetHook(const std::string& Name, std::function<void(QAction*)> Handler) {
  hooks_[Name] = std::move(Handler);
  for (const TMenuRow& R : MenuRows())
    if (R.Hook != nullptr && Name == R.Hook) MenuItem(R.Name)->setEnabled(HasHook(Name));
}

bool TzubForm::HasHook(const std::string& Name) const {
  auto It = hooks_.find(Name);
  return It != hooks_.end() && static_cast<bool>(It->second);
}

void TzubForm::RefreshMenuState() {
  for (const TMenuRow& R : MenuRows()) {
    // The window list asks every other window for its caption: too slow for
    // each key, and its items are rebuilt when it opens.
    if (std::string(R.Name) == "Windows1") continue;
    QMenu* M = SubMenu(R.Name);
    if (M != nullptr && R.Click != nullptr) (this->*R.Click)(M->menuAction());
  }
  DisableUnsetHooks();
}

void TzubForm::DisableUnsetHooks() {
  for (const TMenuRow& R : MenuRows())
    if (R.Hook != nullptr && !HasHook(R.Hook)) MenuItem(R.Name)->setEnabled(false);
  DisableEmptySubmenus();
}

void TzubForm::DisableEmptySubmenus() {
  const std::vector<TMenuRow>& Rows = MenuRows();
  // From the last row up, so a submenu inside another settles first.
  for (auto R = Rows.rbegin(); R != Rows.rend(); ++R) {
    // A submenu with an open handler of its own fills and enables its items
    // only when it opens: before that they tell nothing.
    if (*R->Parent == '\0' || *R->Parent == '#' || R->Click != nullptr || R->Hook != nullptr) continue;
    QMenu* M = SubMenu(R->Name);
    if (M == nullptr) continue;
    bool Offers = false;
    for (QAction* A : M->actions()) Offers = Offers || (!A->isSeparator() && A->isVisible() && A->isEnabled());
    // Only what this rule turned off is turned on again; a submenu another
    // rule disabled (Checkpoint without a name) stays as that rule left it.
    QAction* Sub = M->menuAction();
    if (!Offers && Sub->isEnabled()) {
      Sub->setEnabled(false);
      Sub->setProperty("offersNothing", true);
    } else if (Offers && Sub->property("offersNothing").toBool()) {
      Sub->setEnabled(true);
      Sub->setProperty("offersNothing", false);
    }
  }
}

bool TzubForm::Reachable(QAction* Item) const {
  for (QObject* O : Item->associatedObjects())
    if (auto* M = qobject_cast<QMenu*>(O)) return M->menuAction()->isVisible() && Reachable(M->menuAction());
  return true;
}

// ---- Enabling when a menu opens ---------------------------------------------------------------

void TzubForm::SetUndoItem(const char* Name, bool Enabled) {
  QAction* A = MenuItem(Name);
  QString C = A->text();
  const bool Prefixed = C.left(6) == "Can't ";
  if (Enabled && Prefixed) C = C.mid(6);
  if (!Enabled && !Prefixed) C = "Can't " + C;
  A->setText(C);
  A->setEnabled(Enabled);
}

TBitmap32Undo* TzubForm::UndoStore(TBitmap32*& Bitmap) const {
  TCustomLayer* L = editor_->gSelectedLayer;
  if (L == nullptr) {
    Bitmap = view_->Bitmap();
    return editor_->gImageUndo.get();
  }
  if (auto* B = dynamic_cast<TBitmapLayer*>(L)) {
    Bitmap = B->Bitmap();
    return editor_->gLayerUndo.get();
  }
  Bitmap = nullptr;
  return nullptr;
}

void TzubForm::File1Click(QAction*) {
  TEditor& E = *editor_;
  // "untitled" is a name: a new, pasted or scanned image can be closed,
  // checkpointed and printed. Only Revert needs a file to go back to.
  const bool Named = !E.gFileName.empty();
  MenuItem("Save1")->setEnabled(Named);
  MenuItem("SaveAs1")->setEnabled(Named);
  MenuItem("Revert1")->setEnabled(document_->HasFile() && E.gImageUndo->HasUndo());
  MenuItem("Encrypt1")->setEnabled(!view_->Bitmap()->Empty());
  MenuItem("Checkpoint1")->setEnabled(Named);
  MenuItem("Close1")->setEnabled(Named);
  MenuItem("Print1")->setEnabled(Named && !IsPrinting());
  MenuItem("Commit1")->setEnabled(Named && E.gImageUndo->IsModified());
  MenuItem("Rollback1")->setEnabled(Named && E.gImageUndo->IsCommitted());
  MenuItem("ClearEXIFInfo1")->setEnabled(gHasExif);
}

void TzubForm::Edit1Click(QAction*) {
  TEditor& E = *editor_;
  TBitmap32* B = nullptr;
  TBitmap32Undo* Store = UndoStore(B);
  SetUndoItem("Undo1", Store != nullptr && Store->CanUndo());
  SetUndoItem("UndoUndo1", Store != nullptr && Store->CanRedo());
  SetUndoItem("Redo1", E.gLastActionTag != 0);
  const bool Image = !view_->Bitmap()->Empty();
  const bool Board = Clipboard().HasPicture();
  const bool Buffer = E.gBuffer != nullptr && !E.gBuffer->Empty();
  auto Enable = [this](const char* Name, bool On) { MenuItem(Name)->setEnabled(On); };
  Enable("Copy1", Image);
  Enable("SelectAll1", Image);
  Enable("PuttoBuffer1", Image);
  Enable("Paste1", Board);
  Enable("EmptyClipboard1", Board);
  Enable("Cut1", E.gSelectedLayer == nullptr && Image);
  Enable("Clear1", E.gSelectedLayer == nullptr && Image);
  for (const char* N : {"GetfromBuffer1", "MergefromBuffer1", "DistanceToBuffer1", "ModulatebyBuffer1",
                        "ExchangewithBuffer1", "AddBuffer1"})
    Enable(N, Buffer);
  Enable("MergefromFile1", E.gFileSize >= 1);
  Enable("MergefromUndo1", Store != nullptr && Store->CanUndo());
  Enable("RedoPlugin1", plugins_->gLastPluginItem >= 0 && PluginsReachable());
  Enable("SelectNone1", E.gSelection != nullptr);
}

void TzubForm::Paste1Click(QAction*) {
  MenuItem("PasteAsFloatingSelection1")->setEnabled(view_->Bitmap()->Width() != 0);
}

void TzubForm::View1Click(QAction*) {
  const TViewMenuState S = editor_->View1Click();
  for (const TMenuRow& R : MenuRows())
    if (std::string(R.Parent) == "View1" && std::string(R.Name) != "-") MenuItem(R.Name)->setEnabled(S.ItemsEnabled);
  MenuItem("NormalViewing1")->setEnabled(S.NormalViewingEnabled);
  MenuItem("Bars1")->setEnabled(S.BarsEnabled);
  MenuItem("StatusBar2")->setEnabled(S.StatusBarEnabled);
  MenuItem("Histogram1")->setChecked(S.HistogramChecked);
  MenuItem("Timing1")->setChecked(S.TimingChecked);
  MenuItem("StatusBar2")->setChecked(S.StatusBarChecked);
}

void TzubForm::Image1Click(QAction*) { ::Image1Click(*editor_); }

void TzubForm::Colors1Click(QAction*) {
  MenuItem("GrayZone1")->setEnabled(editor_->gSelectedLayer == nullptr && editor_->gSelection != nullptr);
  MenuItem("TransparentBackground1")->setChecked(document_->gTransparentBackground);
}

void TzubForm::Layers1Click(QAction*) { ::Layers1Click(*editor_); }

void TzubForm::Layers2Click(QAction*) { ::Layers2Click(*editor_); }

void TzubForm::Layer1Click(QAction* Item) { ::Layer1Click(*editor_, Item->data().toInt()); }

void TzubForm::Bars1Click(QAction*) {
  MenuItem("StandardToolbar1")->setChecked(toolBar2_->isVisibleTo(this));
  MenuItem("EditToolbar1")->setChecked(toolBar1_->isVisibleTo(this));
}

void TzubForm::Preferences1Click(QAction*) {
  const int32_t Filter = StretchFilterIndex(view_->Bitmap()->Resampler());
  for (const char* N : {"Nearest1", "Draft1", "Linear1", "Cosine1", "Spline1", "Lanczos1", "Mitchell1", "Cubic1"})
    MenuItem(N)->setChecked(MenuItem(N)->data().toInt() == Filter);
  UpdateJpegChecks();
  for (const char* N : {"Default1", "N301", "N201", "N151", "N102", "N51"})
    MenuItem(N)->setChecked(MenuItem(N)->data().toInt() == document_->gJ2kQuality);
  for (const char* N : {"GrayScale1", "Color1"})
    MenuItem(N)->setChecked(MenuItem(N)->data().toInt() == document_->gJ2kFormat);
  MenuItem("ShowPathonTitle1")->setChecked(editor_->gShowPathOnTitle);
  MenuItem("CreateBackup1")->setChecked(document_->gCreateBackup);
  MenuItem("Dither1")->setChecked(document_->gGifDither);
  for (const char* N : {"N101", "N202", "N501", "N1001"})
    MenuItem(N)->setChecked(MenuItem(N)->data().toInt() == gSnapGrid);
}

void TzubForm::Transparency1Click(QAction*) {
  MenuItem("PasteTransparency1")->setEnabled(Clipboard().HasPicture());
}

// ---- File --------------------------------------------------------------------------------------

void TzubForm::Commit1Click(QAction*) { editor_->gImageUndo->Commit(view_->Bitmap()); }

void TzubForm::Rollback1Click(QAction*) {
  editor_->gImageUndo->Rollback(view_->Bitmap());
  view_->Changed();
  editor_->UpdateCaption();
  editor_->RefreshHistogram();
}

void TzubForm::ClearEXIFInfo1Click(QAction*) { gHasExif = false; }

void TzubForm::SetResizing(QAction* Item) {
  SetStretchFilter(view_->Bitmap(), static_cast<uint8_t>(Item->data().toInt()));
  view_->Changed();
}

void TzubForm::Default1Click(QAction* Item) { document_->gJ2kQuality = Item->data().toInt(); }

void TzubForm::GrayScale1Click(QAction* Item) { document_->gJ2kFormat = Item->data().toInt(); }

void TzubForm::Dither1Click(QAction*) { document_->gGifDither = !document_->gGifDither; }

void TzubForm::CreateBackup1Click(QAction*) { document_->gCreateBackup = !document_->gCreateBackup; }

void TzubForm::ShowPathonTitle1Click(QAction*) {
  editor_->gShowPathOnTitle = !editor_->gShowPathOnTitle;
  editor_->UpdateCaption();
}

void TzubForm::N101Click(QAction* Item) {
  const int32_t V = Item->data().toInt();
  gSnapGrid = V == gSnapGrid ? 1 : V;
  Tools().gSnapGrid = gSnapGrid;
}

// ---- Edit --------------------------------------------------------------------------------------

void TzubForm::UndoStep(bool Again) {
  TBitmap32* B = nullptr;
  if (TBitmap32Undo* Store = UndoStore(B)) {
    if (Again)
      Store->Redo(B);
    else
      Store->Undo(B);
    B->Changed();
    view_->Changed();
  }
  editor_->UpdateCaption();
  editor_->RefreshHistogram();
  editor_->ReserveForNextCommand();
  editor_->gLastActionTag = 0;
}

void TzubForm::Undo1Click(QAction*) { UndoStep(false); }

void TzubForm::UndoUndo1Click(QAction*) { UndoStep(true); }

void TzubForm::Redo1Click(QAction*) { editor_->Redo1Click(); }

void TzubForm::SelectAll1Click(QAction*) { ::SelectAll1Click(*editor_); }

void TzubForm::SelectNone1Click(QAction*) { ::SelectNone1Click(*editor_); }

void TzubForm::PasteAsFloatingSelection1Click(QAction*) { ::PasteAsFloatingSelection1Click(*editor_); }

void TzubForm::EmptyClipboard1Click(QAction*) { ::EmptyClipboard1Click(); }

// ---- View ----------------------------------------------------------------------------------------

void TzubForm::SetScale(float Scale) {
  view_->SetScale(Scale);
  editor_->UpdateCaption();
  PlaceSelectionFrame();
}

void TzubForm::PlaceSelectionFrame() {
  TRubberbandLayer* Sel = editor_->gSelection;
  // The frame of a floating picture lies in bitmap coordinates and follows
  // the view by itself; placing it in view pixels would move and stretch the
  // picture it carries.
  if (Sel != nullptr && !Sel->Scaled() && !Sel->IsDragging())
    Sel->SetLocation(BitmapToControlRect(*view_, editor_->gSelBitmapRect));
}

void TzubForm::NormalViewing1Click(QAction*) { SetScale(1.0f); }

void TzubForm::ZoomIn1Click(QAction*) { SetScale(ZoomInScale(view_->Scale())); }

void TzubForm::ZoomOut1Click(QAction*) { SetScale(ZoomOutScale(view_->Scale())); }

void TzubForm::N210Click(QAction* Item) { SetScale(static_cast<float>(Item->data().toInt() / 100.0)); }

void TzubForm::Fit1Click(QAction*) {
  const TBitmap32* B = view_->Bitmap();
  const float S = FitScale(view_->Width(), view_->Height(), B->Width(), B->Height());
  if (S > 0) SetScale(S);
}

void TzubForm::WheelZoom(int32_t Delta, bool Ctrl, int32_t X, int32_t Y) {
  if (Delta == 0) return;
  const float Old = view_->Scale();
  const float New = Delta > 0 ? ZoomInScale(Old) : ZoomOutScale(Old);
  if (!Ctrl) {
    SetScale(New);
    return;
  }
  const TPoint P0 = view_->ControlToBitmap(TPoint{X, Y});
  const TBitmap32* B = view_->Bitmap();
  const bool Inside = P0.X >= 0 && P0.Y >= 0 && P0.X < B->Width() && P0.Y < B->Height();
  SetScale(New);
  if (Inside) {
    const TPoint P1 = view_->ControlToBitmap(TPoint{X, Y});
    const double S = view_->Scale();
    SetViewOffsets(*view_, view_->OffsetHorz() + static_cast<float>(std::nearbyint((P1.X - P0.X) * S)),
                   view_->OffsetVert() + static_cast<float>(std::nearbyint((P1.Y - P0.Y) * S)));
  }
  PlaceSelectionFrame();
}

void TzubForm::SetToolbarBorders() {
  // A stylesheet border stands for the toolbars' edge lines.
  auto Borders = [](QToolBar* Bar, bool Top, bool Bottom) {
    Bar->setStyleSheet(QString("QToolBar { border-top: %1; border-bottom: %2; }")
                           .arg(Top ? "1px solid palette(mid)" : "none", Bottom ? "1px solid palette(mid)" : "none"));
    Bar->setProperty("edgeTop", Top);
    Bar->setProperty("edgeBottom", Bottom);
  };
  if (toolBar1_->isVisibleTo(this)) {
    const bool OneUpper = toolBar1_->y() < toolBar2_->y() || !toolBar2_->isVisibleTo(this);
    Borders(OneUpper ? toolBar1_ : toolBar2_, true, false);
    Borders(OneUpper ? toolBar2_ : toolBar1_, true, true);
  } else {
    Borders(toolBar1_, true, true);
    Borders(toolBar2_, true, true);
  }
}

void TzubForm::StandardToolbar1Click(QAction*) {
  toolBar2_->setVisible(!toolBar2_->isVisibleTo(this));
  SetToolbarBorders();
}

void TzubForm::EditToolbar1Click(QAction*) {
  toolBar1_->setVisible(!toolBar1_->isVisibleTo(this));
  SetToolbarBorders();
}

void TzubForm::StatusBar2Click(QAction*) {
  const bool Show = !statusBar()->isVisibleTo(this);
  statusBar()->setVisible(Show);
  view_->SetSizeGrip(Show ? sgAuto : sgNone);
}

void TzubForm::Histogram1Click(QAction*) {
  // The engine goes by the check mark as the View menu shows it, but a
  // checkable item has flipped its mark before its click runs.
  MenuItem("Histogram1")->setChecked(HistogramVisible());
  editor_->Histogram1Click();
}

void TzubForm::Timing1Click(QAction*) { editor_->gTiming = !editor_->gTiming; }

void TzubForm::Random1Click(QAction*) {
  const TMatrixKernel K = RandomKernel(Random);
  if (SetCustomKernel) SetCustomKernel(K);
  editor_->DoAction(399);
}

// ---- Colors --------------------------------------------------------------------------------------

void TzubForm::TransparentBackground1Click(QAction*) {
  document_->gTransparentBackground = !document_->gTransparentBackground;
}

void TzubForm::CountColorsUsed1Click(QAction*) {
  MessageBox("Number of colors " + std::to_string(CountColors(view_->Bitmap())), MB_ICONINFORMATION);
}

// ---- Layers --------------------------------------------------------------------------------------

void TzubForm::DeleteAll1Click(QAction*) { ::DeleteAll1Click(*editor_); }
void TzubForm::FlattenAll1Click(QAction*) { ::FlattenAll1Click(*editor_); }
void TzubForm::Delete1Click(QAction*) { ::Delete1Click(*editor_); }
void TzubForm::Flatten1Click(QAction*) { ::Flatten1Click(*editor_); }
void TzubForm::Stamp1Click(QAction*) { ::Stamp1Click(*editor_); }
void TzubForm::BringtoFront1Click(QAction*) { ::BringtoFront1Click(*editor_); }
void TzubForm::SendtoBack1Click(QAction*) { ::SendtoBack1Click(*editor_); }
void TzubForm::Unstretch1Click(QAction*) { ::Unstretch1Click(*editor_); }

// ---- Help ------------------------------------------------------------------------------------------

void TzubForm::Help2Click(QAction*) { OpenHelpPage(); }

void TzubForm::HomePage1Click(QAction*) { OpenHelpPage(); }
