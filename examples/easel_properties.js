// Creates the image generator by its ProgID and prints its properties and those of its
// font, then shows how a refused setting and a failure reach a script.
//   vellum-script examples/easel_properties.js
var easel = CreateObject("Quillmark.Easel");

var names = ["Width", "Height", "ImageFormat", "ImageQuality", "JPEGProgressive",
             "ColorAdjustmentAlgorithm", "TransparentColor", "TiffPage", "ResizeFilter",
             "DPIx", "DPIy", "DPIUnits", "AntiAliasFactor", "BufferResponse", "Text"];
print("Quillmark.Easel");
for (var i = 0; i < names.length; i++) {
  print("  " + names[i] + " = " + JSON.stringify(easel[names[i]]));
}

var font = easel.Font;
var fontNames = ["Name", "Height", "Width", "Orientation", "Weight", "Italic", "Underline",
                 "StrikeOut", "Color", "FontFamily"];
print("Easel.Font");
for (var j = 0; j < fontNames.length; j++) {
  print("  " + fontNames[j] + " = " + JSON.stringify(font[fontNames[j]]));
}

font.Name = "Liberation Serif";
font.Weight = 700;
font.FontFamily = eziRoman;
print("after setting: Name = " + font.Name + ", Weight = " + font.Weight +
      ", FontFamily = " + font.FontFamily);

try {
  easel.ImageQuality = 101;
} catch (e) {
  print("ImageQuality = 101 refused with number 0x" + (e.number >>> 0).toString(16).toUpperCase() +
        " (E_INVALIDARG); ImageQuality is still " + easel.ImageQuality);
}

var standalone = CreateObject("Vellum.EZFont");
standalone.Italic = -1;
print("Vellum.EZFont: Italic set to -1 reads " + standalone.Italic);
