// Converts a folder of images to one format: every file given is loaded and saved in
// the output folder under its own name with the format's extension.
//   vellum-script examples/convert_images.js OUTDIR FORMAT [COLORS] FILE...
// FORMAT is bmp, gif, jpg, png, pcx, tif, wmf, emf, psd, webp or avif; COLORS (optional)
// is 1 (gray), 4 (16 colours), 8 (256 colours) or 24 (true colour, the default).
// Photos are turned the way up they were taken. A file that does not load is reported
// and skipped.
var formats = {bmp: eziBMP, gif: eziGIF, jpg: eziJPG, png: eziPNG, pcx: eziPCX, tif: eziTIFF,
               wmf: eziWMF, emf: eziEMF, psd: eziPSD, webp: eziWEBP, avif: eziAVIF};
var colorResolutions = {1: eziGrayScale, 4: ezi16Colors, 8: ezi256Colors, 24: eziTrueColors};
// What ImageFormat reports after a load (a layered file reports 10, not eziPSD).
var loadedAs = {};
loadedAs[eziBMP] = "BMP"; loadedAs[eziGIF] = "GIF"; loadedAs[eziJPG] = "JPEG";
loadedAs[eziPNG] = "PNG"; loadedAs[eziPCX] = "PCX"; loadedAs[eziTIFF] = "TIFF";
loadedAs[eziWMF] = "WMF"; loadedAs[eziEMF] = "EMF"; loadedAs[10] = "8BPS";
loadedAs[eziWEBP] = "WebP"; loadedAs[eziAVIF] = "AVIF";

if (args.length < 3 || !(args[1] in formats)) {
  throw new Error("usage: convert_images.js OUTDIR FORMAT [COLORS] FILE...");
}
var outDir = args[0];
var extension = args[1];
var files = args.slice(2);
var colors = eziTrueColors;
if (files[0] in colorResolutions) colors = colorResolutions[files.shift()];

function baseName(path) {
  var name = path.substring(path.lastIndexOf("/") + 1);
  var dot = name.lastIndexOf(".");
  return dot > 0 ? name.substring(0, dot) : name;
}

var converted = 0;
for (var i = 0; i < files.length; i++) {
  var easel = CreateObject("Quillmark.Easel");
  easel.ColorResolution = colors;
  easel.AutoOrient = true;
  try {
    easel.LoadImage(files[i]);
  } catch (e) {
    print("skipped " + files[i] + ": " + e.description.replace(/\s+$/, "").replace(/\s*\n/g, "; "));
    continue;
  }
  var target = outDir + "/" + baseName(files[i]) + "." + extension;
  easel.SaveImage(eziFile, formats[extension], target);
  print(files[i] + " (" + loadedAs[easel.ImageFormat] + ", " + easel.Width + " x " +
        easel.Height + ") -> " + target);
  converted++;
}
print(converted + " of " + files.length + " images converted to " + extension);
