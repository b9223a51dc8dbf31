// Runs in the browser (a .js file is sent as it is): names the files picked for upload.
document.addEventListener("DOMContentLoaded", function () {
  var input = document.querySelector("input[type=file]");
  var chosen = document.getElementById("chosen");
  if (!input || !chosen) return;
  input.addEventListener("change", function () {
    var names = [];
    for (var i = 0; i < input.files.length; i++) names.push(input.files[i].name);
    chosen.textContent = names.join(", ");
  });
});
