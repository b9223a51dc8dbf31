// Stores images in an SQLite database and fetches them back, through the database
// fields that the image generator reads and writes in chunks.
//   vellum-script examples/image_database.js DB store FILE...   each image, as PNG
//   vellum-script examples/image_database.js DB fetch OUTDIR    every image, as PNG files
//   vellum-script examples/image_database.js DB sizes           every image's size as a JPEG
// Needs "Vellum.Database" registered: vellum-regsvr build/lib/libvellumdb.so

if (args.length < 2) throw new Error("usage: image_database.js DB store|fetch|sizes ...");
var db = CreateObject("Vellum.Database");
db.Open(args[0]);
db.Execute("CREATE TABLE IF NOT EXISTS images (id INTEGER PRIMARY KEY, name TEXT, data BLOB)");

function quoted(text) { return "'" + text.replace(/'/g, "''") + "'"; }

function baseName(path) {
  var name = path.substring(path.lastIndexOf("/") + 1);
  var dot = name.lastIndexOf(".");
  return dot > 0 ? name.substring(0, dot) : name;
}

// A text column read through a field, chunk by chunk, as bytes.
function readText(field) {
  var text = "";
  for (var chunk = field.GetChunk(100); chunk !== null; chunk = field.GetChunk(100)) {
    for (var i = 0; i < chunk.length; i++) text += String.fromCharCode(chunk[i]);
  }
  return text;
}

function store(files) {
  for (var i = 0; i < files.length; i++) {
    var easel = CreateObject("Quillmark.Easel");
    easel.LoadImage(files[i]);
    db.Execute("INSERT INTO images (name) VALUES (" + quoted(baseName(files[i])) + ")");
    var id = db.LastInsertRowId;
    var field = db.Field("images", "data", id);
    easel.SaveImage(eziDatabaseBlob, eziPNG, field);  // appended in pieces of 1000 bytes
    field.Update();                                    // stored in one transaction
    print("stored " + files[i] + " as row " + id + " (" + field.ActualSize + " bytes of PNG)");
  }
}

// Every row, until the first id that has none.
function eachImage(visit) {
  for (var id = 1; ; id++) {
    var field;
    try {
      field = db.Field("images", "data", id);
    } catch (e) {
      return;
    }
    var easel = CreateObject("Quillmark.Easel");
    try {
      easel.LoadImage(field);
    } catch (e) {
      print("row " + id + " holds no image");
      continue;
    }
    visit(easel, readText(db.Field("images", "name", id)), id);
  }
}

var outDir = args[2];
if (args[1] === "store") {
  store(args.slice(2));
} else if (args[1] === "fetch") {
  eachImage(function (easel, name, id) {
    var target = outDir + "/" + name + ".png";
    easel.SaveImage(eziFile, eziPNG, target);
    print("row " + id + " -> " + target + " (" + easel.Width + " x " + easel.Height + ")");
  });
} else if (args[1] === "sizes") {
  eachImage(function (easel, name, id) {
    var bytes = easel.SaveImage(eziMemory, eziJPG, null);  // a byte array, as a page sends it
    print("row " + id + " " + name + ": " + easel.Width + " x " + easel.Height + ", " +
          bytes.length + " bytes as JPEG at quality " + easel.ImageQuality);
  });
} else {
  throw new Error("unknown command " + args[1]);
}
db.Close();
