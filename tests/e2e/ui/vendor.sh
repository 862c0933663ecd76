# SPDX-License-Identifier: MIT
# What a vendor does with tidepack in the end-to-end checks, shared by e2e.sh and
# release_tidepack.sh. fill_manifest takes the registry key from ENGLISH_KEY.

# vendor_certificate FOLDER: a self-signed code-signing certificate, CN=Tidewell E2E Vendor:
# key.pem, cert.pem, and both in vendor.p12 with the password e2e-secret.
vendor_certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tidewell E2E Vendor" \
        -keyout "$1/key.pem" -out "$1/cert.pem" 2>/dev/null &&
        openssl pkcs12 -export -inkey "$1/key.pem" -in "$1/cert.pem" -passout pass:e2e-secret \
            -out "$1/vendor.p12"
}

# dated_certificate FOLDER FROM UNTIL: a self-signed certificate, CN=Tidewell E2E Dated, valid
# only from FROM to UNTIL (openssl ca's dates, 20200101000000Z), with its key in dated.p12,
# password e2e-secret.
dated_certificate() {
    printf '%s\n' '[ca]' 'default_ca=d' '[d]' 'database=index' 'new_certs_dir=.' 'serial=serial' \
        'default_md=sha256' 'policy=p' '[p]' 'commonName=supplied' >"$1/ca.cnf"
    : >"$1/index" && echo 01 >"$1/serial" &&
        (cd "$1" && openssl req -new -newkey rsa:2048 -nodes -keyout dated.pem \
            -subj "/CN=Tidewell E2E Dated" -out dated.csr 2>/dev/null &&
            openssl ca -config ca.cnf -selfsign -keyfile dated.pem -in dated.csr -batch -notext \
                -startdate "$2" -enddate "$3" -out dated.crt 2>/dev/null &&
            openssl pkcs12 -export -inkey dated.pem -in dated.crt -passout pass:e2e-secret \
                -out dated.p12)
}

# fill_manifest FILE: the fields a vendor fills in after diff, for the English product.
fill_manifest() {
    local key=${ENGLISH_KEY/HKCU/HKEY_CURRENT_USER}
    sed -i -e "s|^codePage = .*|codePage = 1252|" -e "s|^title = .*|title = 'Shiosai Notes'|" \
        -e "s|^versionText = .*|versionText = '2.1'|" -e "s|^valueName = .*|valueName = 'InstallDir'|" \
        -e "s|^registryKey = .*|registryKey = '${key//\\/\\\\}'|" \
        -e "s|^defaultFolder = .*|defaultFolder = 'C:\\\\tidewell-e2e\\\\elsewhere'|" "$1"
}
