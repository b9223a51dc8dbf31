"""The thumbnail page as a small Pillow application (WSGI, run under gunicorn): the same
work as bench/http_thumb.asp, written as a Pillow user would write it."""
import io
import os
from urllib.parse import parse_qs

from PIL import Image, ImageFilter

PICTURES = os.environ["PICTURES"]


def app(environ, start_response):
    query = parse_qs(environ.get("QUERY_STRING", ""))
    name = os.path.basename(query.get("name", ["photo.jpg"])[0])
    height = int(query.get("height", ["120"])[0])
    with Image.open(os.path.join(PICTURES, name)) as picture:
        picture.thumbnail((100000, height), Image.BICUBIC)
        picture = picture.filter(ImageFilter.SHARPEN)
        out = io.BytesIO()
        picture.convert("RGB").save(out, "JPEG", quality=85)
    body = out.getvalue()
    start_response("200 OK", [("Content-Type", "image/jpeg"), ("Content-Length", str(len(body)))])
    return [body]
