// Converts a folder of images to one format: every file given is loaded and saved in
// the output folder under its own name with the format's extension.
//   vellum-script examples/convert_images.js OUTDIR FORMAT [COLORS] FILE...
// FORMAT is bmp, gif, jpg, png, pcx, tif, wmf, emf or psd; COLORS (optional) is 1
// (gray), 4 (16 colours), 8 (256 colours) or 24 (true colour, the default).
// A file that does not load is reported and skipped.
var formats = {bmp: 1, gif: 2, jpg: 3, png: 4, pcx: 5, tif: 6, wmf: 7, emf: 8, psd: 9};
var loadedAs = {1: "BMP", 2: "GIF", 3: "JPEG", 4: "PNG", 5: "PCX", 6: "TIFF", 7: "WMF",
                8: "EMF", 10: "8BPS"};

if (args.length < 3 || !(args[1] in formats)) {
  throw new Error("usage: convert_images.js OUTDIR FORMAT [COLORS] FILE...");
}
var outDir = args[0];
var extension = args[1];
var files = args.slice(2);
var colors = 24;
if (/^(1|4|8|24)$/.test(files[0])) colors = parseInt(files.shift(), 10);

function baseName(path) {
  var name = path.substring(path.lastIndexOf("/") + 1);
  var dot = name.lastIndexOf(".");
  return dot > 0 ? name.substring(0, dot) : name;
}

var converted = 0;
for (var i = 0; i < files.length; i++) {
  var easel = CreateObject("Quillmark.Easel");
  easel.ColorResolution = colors;
  try {
    easel.LoadImage(files[i]);
  } catch (e) {
    print("skipped " + files[i] + ": " + e.description.replace(/\s+$/, "").replace(/\s*\n/g, "; "));
    continue;
  }
  var target = outDir + "/" + baseName(files[i]) + "." + extension;
  easel.SaveImage(0, formats[extension], target);
  print(files[i] + " (" + loadedAs[easel.ImageFormat] + ", " + easel.Width + " x " +
        easel.Height + ") -> " + target);
  converted++;
}
print(converted + " of " + files.length + " images converted to " + extension);
