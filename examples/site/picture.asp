<%@ Language="JScript" EnableSessionState=False %>
<!-- #include file="include/site.inc" -->
<!-- #include file="include/gallery.inc" -->
<%
// A picture of the gallery as it was stored (JPEG, at most 1280 pixels wide).
//   picture.asp?id=N
var bytes = pictureBytes(openGallery(), Number(param("id", "0")), "picture");
if (bytes === null) {
  Response.Status = "404 Not Found";
  Response.Write("There is no such picture.");
} else {
  // The line breaks between the lines above are page text: drop them before the bytes.
  Response.Clear();
  Response.ContentType = "image/jpeg";
  Response.BinaryWrite(bytes);
  Response.End();  // nothing after the bytes: not even the line break at the end of this file
}
%>
