// Keeps a photograph in a database row and edits it there, the same way on SQLite and
// on PostgreSQL: the file's bytes go in as a bound value, come back through a
// recordset whose field the Easel loads from and saves into, and the collection
// server reads the edited field back.
//   vellum-script examples/photo_records.js CONNECTION IMAGE OUTDIR
//   CONNECTION: sqlite:/tmp/photos.db, or postgresql://user@host/db, or host=... dbname=...
// Writes OUTDIR/edited.png (saved by the Easel) and OUTDIR/stored.png (read from the row).
// Needs libvellum.so, libvellumset.so and libvellumdb.so registered (vellum-regsvr), whose
// enumeration constants (adLockOptimistic, eziPNG, ...) the script runner defines.

if (args.length < 3) throw new Error("usage: photo_records.js CONNECTION IMAGE OUTDIR");
var conn = CreateObject("Vellum.Connection");
conn.Open(args[0]);
var key = conn.Provider == "PostgreSQL" ? "SERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY";
conn.Execute("DROP TABLE IF EXISTS photos");
conn.Execute("CREATE TABLE photos (id " + key + ", name VARCHAR(200), photo BYTEA)");

function sameBytes(a, b) {
  if (a.length != b.length) return false;
  for (var i = 0; i < a.length; i++) if (a[i] != b[i]) return false;
  return true;
}

// The file's bytes, as an upload arrives, stored under a name that would end the
// statement if it were spliced into it.
var images = CreateObject("Quillmark.Images");
images.LoadImage("upload", args[1]);
var upload = images.SaveImage("upload");
var name = "'; DROP TABLE photos; --";
conn.Execute("INSERT INTO photos (name, photo) VALUES (?, ?)", [name, upload]);

var rs = CreateObject("Vellum.Recordset");
rs.Open("SELECT id, name, photo FROM photos WHERE name = ?", conn, adOpenKeyset,
        adLockOptimistic, adCmdText, [name]);
print("stored " + rs.RecordCount + " row named " + rs("name").Value + "; its " +
      rs("photo").ActualSize + " bytes are the file's: " + sameBytes(rs("photo").Value, upload));

var easel = CreateObject("Quillmark.Easel");
easel.LoadImage(rs("photo"));
easel.InvertImage();
easel.SaveImage(eziDatabaseBlob, eziPNG, rs("photo"));
rs.Update();
easel.SaveImage(eziFile, eziPNG, args[2] + "/edited.png");
print("edited " + easel.Width + " x " + easel.Height + " and saved it into row " + rs("id").Value);

// A fresh read of the row, by a named value.
var byName = CreateObject("VellumSet.Dictionary");
byName.Add("name", name);
var stored = conn.Execute("SELECT id, photo FROM photos WHERE name = :name", byName);
var check = CreateObject("Quillmark.Easel");
check.LoadImage(stored("photo"));
images.LoadImage("stored", stored("photo"));
images.SaveImage("stored", args[2] + "/stored.png");
print("read back " + check.Width + " x " + check.Height + " from row " + stored("id").Value +
      "; rows in the table: " + conn.Execute("SELECT count(*) AS n FROM photos")("n").Value);
conn.Close();
