<%@ Language="JScript" EnableSessionState=False %><%
// The benchmark's thumbnail page: a thumbnail of a picture in the site's pictures
// folder, made on every request, as a JPEG (bench/http_pillow_app.py does the same).
//   thumb.asp?name=FILE[&height=N]
var name = String(Request.QueryString("name"));
// Only plain file names: the page never reaches outside its pictures folder.
if (!/^[A-Za-z0-9_-]+\.(jpg|jpeg|png|gif|bmp|tif)$/i.test(name)) {
  throw new Error("thumb.asp needs name=FILE of a picture in pictures/");
}
var height = Number(Request.QueryString("height")) || 120;
if (height < 16 || height > 400) height = 120;

var easel = Server.CreateObject("Quillmark.Easel");
easel.LoadImage(Server.MapPath("pictures/" + name));
easel.CreateThumbnail(-1, height, eziBicubic, 1);
easel.SharpenImage(1);
easel.ImageQuality = 85;
easel.SaveImage(eziBrowser, eziJPG, "");
%>
