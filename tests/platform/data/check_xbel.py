"""Reads a recently-used list the way other desktop programs' Python code does (xml.etree) and
checks the entry of one document: the fields the bookmark standard names for it.

usage: check_xbel.py <list> <href> <app name> <app exec> <mime type> <count> <bookmarks>
Exits 0 when everything holds; otherwise says what does not on standard error and exits 1.
"""
import sys
import xml.etree.ElementTree as ET
from datetime import datetime

BOOKMARK = '{http://www.freedesktop.org/standards/desktop-bookmarks}'
MIME = '{http://www.freedesktop.org/standards/shared-mime-info}'


def when(text):
    return datetime.fromisoformat(text.replace('Z', '+00:00'))


def main():
    path, href, app_name, app_exec, mime_type, count, total = sys.argv[1:8]
    root = ET.parse(path).getroot()
    assert root.tag == 'xbel', root.tag
    assert root.get('version') == '1.0', root.get('version')
    bookmarks = root.findall('bookmark')
    assert len(bookmarks) == int(total), f'{len(bookmarks)} bookmarks, not {total}'
    mine = [b for b in bookmarks if b.get('href') == href]
    assert len(mine) == 1, f'{len(mine)} bookmarks for {href}'
    bookmark = mine[0]
    added, modified, visited = (when(bookmark.get(k)) for k in ('added', 'modified', 'visited'))
    assert added <= modified and added <= visited, (added, modified, visited)
    metadata = [m for m in bookmark.findall('info/metadata')
                if m.get('owner') == 'http://freedesktop.org']
    assert len(metadata) == 1, 'no freedesktop metadata'
    types = metadata[0].findall(MIME + 'mime-type')
    assert [t.get('type') for t in types] == [mime_type], [t.get('type') for t in types]
    apps = [a for a in metadata[0].findall(BOOKMARK + 'applications/' + BOOKMARK + 'application')
            if a.get('name') == app_name]
    assert len(apps) == 1, f'{len(apps)} applications named {app_name}'
    assert apps[0].get('exec') == app_exec, apps[0].get('exec')
    assert apps[0].get('count') == count, apps[0].get('count')
    assert when(apps[0].get('modified')) == modified, (apps[0].get('modified'), modified)


if __name__ == '__main__':
    try:
        main()
    except Exception as problem:  # any failure is the answer
        print(f'check_xbel: {problem!r}', file=sys.stderr)
        sys.exit(1)
