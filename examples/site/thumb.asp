<%@ Language="JScript" EnableSessionState=False %>
<!-- #include file="include/site.inc" -->
<!-- #include file="include/gallery.inc" -->
<%
// A picture's thumbnail in the best format the browser takes: AVIF or WebP when its
// Accept header names them, JPEG otherwise (Vary: Accept tells caches so). Thumbnails
// are kept in the Images collection every page shares, one per format: the JPEG one is
// read from the database when it is not there yet (the host restarted); an AVIF or WebP
// one is made once from the stored picture, as the upload made the JPEG one.
//   thumb.asp?id=N
var id = Number(param("id", "0"));
var wanted = thumbnailFormatFor(Request.ServerVariables("HTTP_ACCEPT"));
var thumbnails = Application("Thumbnails");
var key = "t" + id + "." + wanted.key;
if (!thumbnails.Exists(key)) {
  var gallery = openGallery();
  var bytes = pictureBytes(gallery, id, wanted.format == eziJPG ? "thumbnail" : "picture");
  if (bytes === null) {
    Response.Status = "404 Not Found";
    Response.End();
  }
  if (wanted.format != eziJPG) {
    var easel = Server.CreateObject("Quillmark.Easel");
    easel.LoadImage(bytes);
    makeThumbnail(easel);
    easel.ImageQuality = 80;
    bytes = easel.SaveImage(eziMemory, wanted.format, "");
  }
  try {
    thumbnails.LoadImage(key, bytes, wanted.collection);
  } catch (e) {
    if (!thumbnails.Exists(key)) throw e;  // else another request made it meanwhile
  }
}
// The line breaks between the lines above are page text: drop them before the bytes.
Response.Clear();
Response.ContentType = wanted.type;
Response.AddHeader("Vary", "Accept");
Response.CacheControl = "public, max-age=3600";
Response.BinaryWrite(thumbnails(key).Image);
Response.End();  // nothing after the bytes: not even the line break at the end of this file
%>
