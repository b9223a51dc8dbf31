<%@ Language="JScript" EnableSessionState=False %>
<%
// The host benchmark's thumbnail page: a picture of the pictures folder made 120 pixels
// high, sharpened, as a JPEG (the same work as http_pillow_app.py).
//   thumb.asp?name=FILE
var values = Request.QueryString("name");
var name = values.Count > 0 ? String(values) : "";
if (!/^[A-Za-z0-9_-]+\.jpg$/.test(name)) {
  Response.Status = "404 Not Found";
  Response.End();
}
var easel = Server.CreateObject("Quillmark.Easel");
easel.LoadImage(Server.MapPath("pictures/" + name));
easel.CreateThumbnail(-1, 120, eziBicubic, 1);
easel.SharpenImage(1);
easel.ImageQuality = 85;
easel.SaveImage(eziBrowser, eziJPG, "");
%>
