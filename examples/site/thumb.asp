<%@ Language="JScript" EnableSessionState=False %>
<!-- #include file="include/site.inc" -->
<!-- #include file="include/gallery.inc" -->
<%
// A picture's thumbnail, from the Images collection every page shares; one not there
// yet (the host restarted) is read from the database and put there for the next time.
//   thumb.asp?id=N
var id = Number(param("id", "0"));
var thumbnails = Application("Thumbnails");
var key = "t" + id;
if (!thumbnails.Exists(key)) {
  var bytes = pictureBytes(openGallery(), id, "thumbnail");
  if (bytes === null) {
    Response.Status = "404 Not Found";
    Response.End();
  }
  thumbnails.LoadImage(key, bytes);
}
// The line breaks between the lines above are page text: drop them before the bytes.
Response.Clear();
Response.ContentType = "image/jpeg";
Response.CacheControl = "public, max-age=3600";
Response.BinaryWrite(thumbnails(key).Image);
Response.End();  // nothing after the bytes: not even the line break at the end of this file
%>
