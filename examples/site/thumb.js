// A thumbnail of a picture in the site's pictures folder, as a JPEG.
//   thumb.js?name=FILE[&height=N]

var name = Request.QueryString("name");
// Only plain file names: the page never reaches outside its pictures folder.
if (!/^[A-Za-z0-9_-]+\.(jpg|jpeg|png|gif|bmp|tif)$/i.test(name)) {
  throw new Error("thumb.js needs name=FILE of a picture in pictures/");
}
var height = Number(Request.QueryString("height")) || 120;
if (height < 16 || height > 400) height = 120;

var page = Request.ServerVariables("PATH_TRANSLATED");
var folder = page.substring(0, page.lastIndexOf("/")) + "/pictures/";
var easel = CreateObject("Quillmark.Easel");
easel.LoadImage(folder + name);
easel.CreateThumbnail(-1, height, eziBicubic, 1);
easel.SharpenImage(1);
easel.ImageQuality = 85;
easel.SaveImage(eziBrowser, eziJPG, "");
