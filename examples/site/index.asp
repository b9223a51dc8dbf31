<%@ Language="JScript" %>
<!-- #include file="include/site.inc" -->
<!-- #include file="include/gallery.inc" -->
<%
// The front page: what the other pages make, with a few of the gallery's pictures and
// the counts Application and Session keep.
Session.Value.put("Pages", (Session("Pages") || 0) + 1);
var latest = listPictures(openGallery(), 4);
pageTop("Pictures made on the fly");
%>
<p>Every image on this site is drawn by a page script while you wait: the pages are
<code>.asp</code> files in JavaScript that create the image generator's objects and send
what they draw straight into the response.</p>

<section class="cards">
  <a class="card" href="/gallery.asp">
    <img src="/banner.asp?text=Your+pictures&amp;from=203040&amp;to=60C0F0" alt="">
    <span>Upload a picture and get a watermarked thumbnail</span>
  </a>
  <a class="card" href="/banners.asp">
    <img src="/banner.asp?text=Hello%2C+Vellum&amp;font=Liberation+Serif" alt="">
    <span>Banners with your text, font and colours</span>
  </a>
  <a class="card" href="/charts.asp">
    <img src="/chart.asp?values=3,7,4,9,6&amp;labels=Mon,Tue,Wed,Thu,Fri&amp;width=300&amp;height=110" alt="">
    <span>Bar charts from numbers in the address</span>
  </a>
</section>

<% if (latest.length > 0) { %>
<h2>Lately in the gallery</h2>
<p class="strip">
<% for (var i = 0; i < latest.length; i++) { %>
  <a href="/picture.asp?id=<%= latest[i].id %>"><img src="/thumb.asp?id=<%= latest[i].id %>" alt="<%= h(latest[i].title) %>"></a>
<% } %>
</p>
<% } %>

<p class="small">You are one of <%= Application("Visitors") %> visitors since the site
started; this is page <%= Session("Pages") %> of your visit.</p>
<% pageBottom(); %>
